// From a line typed into the scanner simulator to the verdict on the
// station's screen: the real station binary and simulator, on an X display
// (run under xvfb-run). The station reports each repaint of its verdict with
// a monotonic time stamp through its UI probe file. The scanner sends the
// suffix given (cr, the demo's, by default): the station hands a scan on
// once a short silence follows it.
//
//   bench_scan_latency [SCANS] [SUFFIX]

#include "bench/BenchSupport.h"
#include "serial/ScanFraming.h"
#include "tests/support/LiveStation.h"

#include <cstdio>
#include <thread>

using namespace vx;
using namespace std::chrono_literals;

int main(int argc, char** argv) {
    const int scans = argc > 1 ? std::atoi(argv[1]) : 100;
    const std::string suffix = argc > 2 ? argv[2] : "cr";
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "needs an X display: xvfb-run -a %s\n", argv[0]);
        return 1;
    }
    test::LiveStation st(scans + 10, {"--suffix", suffix, "--quiet"}, true);
    if (!st.waitReady(15s) || !st.switchComparisonOn()) {
        std::fprintf(stderr, "the station did not get ready:\n%s", st.dump().c_str());
        return 1;
    }

    std::vector<double> latency;
    for (int i = 1; i <= scans; ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "VX%06d", i);
        const long before = st.seq();
        const auto t0 = bench::Clock::now();
        st.scanner().writeLine(code);
        if (!test::waitUntil(
                [&] { return st.seq() > before && st.get("Label14") == std::to_string(i); }, 5s))
            return 1;
        const auto shown =
            bench::Clock::time_point(bench::Clock::duration(std::atoll(st.get("nanos").c_str())));
        latency.push_back(bench::ms(shown - t0));
        std::this_thread::sleep_for(50ms);
    }
    const double median = bench::percentile(latency, 50);
    bench::figure("terminator_silence", serial::kTerminatorSilenceMs, "ms");
    bench::figure("quiet_gap", serial::kQuietGapMs, "ms");
    bench::figure("typed_to_verdict_median", median, "ms");
    bench::figure("typed_to_verdict_p99", bench::percentile(latency, 99), "ms");
    bench::figure("median_over_silence", median - serial::kTerminatorSilenceMs, "ms");
    return 0;
}
