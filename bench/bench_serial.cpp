// Delivery latency of a scan through the serial component on a pseudo-
// terminal: from the last byte written to OnRxChar on the UI thread. The
// component holds a scan back until the line has been quiet for the gap, so
// the target is the gap plus a few ms. Also the CPU time an open, idle port
// costs.

#include "bench/BenchSupport.h"
#include "serial/ComPort.h"
#include "serial/ComThread.h"
#include "serial/ThreadSync.h"

#include <atomic>
#include <fcntl.h>
#include <stdlib.h>
#include <string>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using namespace vx;
using namespace std::chrono_literals;

namespace {

double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const int scans = argc > 1 ? std::atoi(argv[1]) : 200;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    const std::string slave = ptsname(master);

    auto& sync = serial::UiSync::instance();
    sync.setUiThread(std::this_thread::get_id());
    serial::TComPort port;
    std::atomic<long long> deliveredAt{0};
    int delivered = 0;
    port.OnRxChar = [&](serial::TCustomComPort& p, int count) {
        deliveredAt = bench::Clock::now().time_since_epoch().count();
        std::string text;
        p.ReadText(text, count);
        ++delivered;
    };
    port.setPort(slave);
    port.OpenPort();

    std::vector<double> latency;
    const std::string scan = "VX0000123456\r\n";
    for (int i = 0; i < scans; ++i) {
        const int before = delivered;
        const auto written = bench::Clock::now();
        if (::write(master, scan.data(), scan.size()) != static_cast<ssize_t>(scan.size()))
            return 1;
        while (delivered == before) {
            sync.drain();
            if (delivered == before)
                sync.waitForWork(100ms);
        }
        const auto at = bench::Clock::time_point(bench::Clock::duration(deliveredAt.load()));
        latency.push_back(bench::ms(at - written));
        std::this_thread::sleep_for(20ms);
    }

    const double c0 = cpuMs();
    const auto end = bench::Clock::now() + std::chrono::seconds(idleSeconds);
    while (bench::Clock::now() < end) {
        sync.drain();
        sync.waitForWork(1000ms);
    }
    const double idleCpu = cpuMs() - c0;
    port.ClosePort();
    ::close(master);

    bench::figure("quiet_gap", serial::kQuietGapMs, "ms");
    bench::figure("delivery_latency_median", bench::percentile(latency, 50), "ms");
    bench::figure("delivery_latency_p99", bench::percentile(latency, 99), "ms");
    bench::figure("latency_over_gap_p99", bench::percentile(latency, 99) - serial::kQuietGapMs,
                  "ms");
    bench::figure("idle_port_cpu", idleCpu, "ms");
    bench::figure("idle_seconds", idleSeconds, "s");
    return 0;
}
