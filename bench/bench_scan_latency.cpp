// From a line typed into the scanner simulator to the verdict on the
// station's screen: the real station binary and simulator, on an X display
// (run under xvfb-run). The station reports each repaint of its verdict with
// a monotonic time stamp through its UI probe file.

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "bench/BenchSupport.h"
#include "tests/support/Processes.h"

using namespace vx;
using namespace std::chrono_literals;

int main(int argc, char** argv) {
    const int scans = argc > 1 ? std::atoi(argv[1]) : 100;
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "needs an X display: xvfb-run -a %s\n", argv[0]);
        return 1;
    }
    char tmpl[] = "/tmp/vexora-latency-XXXXXX";
    const std::string folder = mkdtemp(tmpl);
    int rc = 0;
    test::run("VEXORA_DEMO_LABELS=" + std::to_string(scans + 10) + " bash " VEXORA_SOURCE_DIR
              "/scripts/demo-station.sh " + folder, &rc);
    if (rc != 0)
        return 1;
    const std::string link = folder + "/scanner", probe = folder + "/probe.txt";
    test::Child sim({VEXORA_BIN_DIR "/vexora-scanner-sim", "--link", link, "--suffix", "cr", "--quiet"}, "", true, {},
                    true);
    test::waitUntil([&] { return std::filesystem::exists(link); }, 5s);
    test::Child station({folder + "/vexora"}, folder, false, {"VEXORA_UI_PROBE=" + probe, "QT_QPA_PLATFORM=xcb"},
                        true);
    auto get = [&](const char* key) {
        auto kv = test::readKeyValues(probe);
        return kv.count(key) ? kv[key] : std::string();
    };
    if (!test::waitUntil([&] { return get("chk_start_enabled") == "1"; }, 15s))
        return 1;
    std::string window = test::run("xdotool search --onlyvisible --name '^Vexora$' | head -1");
    window = window.substr(0, window.find('\n'));
    test::run("xdotool mousemove --window " + window + " 864 384 click 1");
    if (!test::waitUntil([&] { return get("chk_start_checked") == "1"; }, 5s))
        return 1;

    std::vector<double> latency;
    for (int i = 1; i <= scans; ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "VX%06d", i);
        const long before = std::atol(get("seq").c_str());
        const auto t0 = bench::Clock::now();
        sim.writeLine(code);
        if (!test::waitUntil([&] { return std::atol(get("seq").c_str()) > before && get("Label14") == std::to_string(i); },
                             5s))
            return 1;
        const auto shown = bench::Clock::time_point(bench::Clock::duration(std::atoll(get("nanos").c_str())));
        latency.push_back(bench::ms(shown - t0));
        std::this_thread::sleep_for(50ms);
    }
    station.stop();
    sim.stop();
    std::filesystem::remove_all(folder);
    bench::figure("quiet_gap", 30, "ms");
    bench::figure("typed_to_verdict_median", bench::percentile(latency, 50), "ms");
    bench::figure("typed_to_verdict_p99", bench::percentile(latency, 99), "ms");
    bench::figure("median_over_gap", bench::percentile(latency, 50) - 30, "ms");
    return 0;
}
