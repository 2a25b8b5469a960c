// Delivery of scans through the serial component on a pseudo-terminal, from
// the last byte written to OnRxChar on the UI thread: for scans with a CR LF
// suffix (ended by the short silence after it), for scans without a suffix
// (ended by the quiet gap), and for scans sent back to back at 50 a second
// (the share delivered as separate events, each holding exactly its scan).
// The baseline, measured in the same run, is the pseudo-terminal itself: a
// thread that wakes on the bytes and hands them to the UI thread at once,
// with no framing. Also the CPU time an open, idle port costs.
//
//   bench_serial [SCANS] [IDLE_SECONDS] [BACK_TO_BACK_SCANS]

#include "bench/BenchSupport.h"
#include "serial/ComPort.h"
#include "serial/ScanFraming.h"
#include "serial/ThreadSync.h"
#include "tests/support/Pty.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
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

// The pumps of the UI thread sleep until work comes (the tests' look every
// 5 ms, which the idle CPU figure would count).

// Runs handed-over calls until pred holds.
template <class Pred> void pumpUntil(Pred pred) {
    auto& sync = serial::UiSync::instance();
    while (!pred()) {
        sync.drain();
        if (!pred())
            sync.waitForWork(100ms);
    }
}

void pumpFor(bench::Clock::duration d) {
    auto& sync = serial::UiSync::instance();
    const auto end = bench::Clock::now() + d;
    while (bench::Clock::now() < end) {
        sync.drain();
        sync.waitForWork(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::max<bench::Clock::duration>(end - bench::Clock::now(), 1ms)));
    }
}

// The port with a handler that records each scan and when it came.
struct Station {
    explicit Station(test::Pty& pty) {
        port.OnRxChar = [this](serial::TCustomComPort& p, int count) {
            const auto at = bench::Clock::now();
            std::string text;
            p.ReadText(text, count);
            scans.push_back(text);
            times.push_back(at);
        };
        port.setPort(pty.slavePath());
        port.OpenPort();
    }
    ~Station() { port.ClosePort(); }
    serial::TComPort port;
    std::vector<std::string> scans;
    std::vector<bench::Clock::time_point> times;
};

// Writes each scan in one go, waits for its delivery, then lets the line
// rest; milliseconds from the write to OnRxChar.
std::vector<double> latencies(test::Pty& pty, const std::string& scan, int n) {
    Station st(pty);
    std::vector<double> out;
    for (int i = 0; i < n; ++i) {
        const std::size_t before = st.scans.size();
        const auto written = bench::Clock::now();
        pty.write(scan);
        pumpUntil([&] { return st.scans.size() > before; });
        out.push_back(bench::ms(st.times[before] - written));
        pumpFor(60ms);
    }
    return out;
}

// The floor: a thread woken by the bytes hands them straight to the UI.
std::vector<double> rawLatencies(test::Pty& pty, const std::string& scan, int n) {
    const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    std::atomic<bool> stop{false};
    std::atomic<int> arrived{0};
    bench::Clock::time_point at{};
    std::thread reader([&] {
        char buf[256];
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            while (::read(fd, buf, sizeof buf) > 0) {
            }
            serial::UiSync::instance().runOnUi([&] {
                at = bench::Clock::now();
                ++arrived;
            });
        }
    });
    std::vector<double> out;
    for (int i = 0; i < n; ++i) {
        const int before = arrived;
        const auto written = bench::Clock::now();
        pty.write(scan);
        pumpUntil([&] { return arrived > before; });
        out.push_back(bench::ms(at - written));
        pumpFor(20ms);
    }
    stop = true;
    reader.join();
    ::close(fd);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    const int scans = argc > 1 ? std::atoi(argv[1]) : 200;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int backToBack = argc > 3 ? std::atoi(argv[3]) : 500;

    serial::UiSync::instance().setUiThread(std::this_thread::get_id());
    test::Pty pty;

    std::vector<double> raw = rawLatencies(pty, "VX0000123456\r\n", scans);
    std::vector<double> crlf = latencies(pty, "VX0000123456\r\n", scans);
    std::vector<double> bare = latencies(pty, "VX0000123456", scans);

    // Back to back: a writer thread keeps the beat while the UI thread
    // handles what arrives.
    double separate = 0;
    {
        Station st(pty);
        std::vector<std::string> sent;
        for (int i = 0; i < backToBack; ++i)
            sent.push_back("VX" + std::to_string(1000000 + i) + "\r\n");
        // Each scan is written 20 ms after the one before was: a sleep that
        // overshoots on a busy machine must not bring two scans closer.
        std::thread writer([&] {
            auto next = bench::Clock::now();
            for (const std::string& s : sent) {
                std::this_thread::sleep_until(next);
                next = bench::Clock::now() + 20ms;
                pty.write(s);
            }
        });
        const auto end = bench::Clock::now() + 20ms * backToBack + 2s;
        pumpUntil([&] { return st.scans.size() >= sent.size() || bench::Clock::now() > end; });
        writer.join();
        pumpFor(100ms);
        // A scan counts when one event holds exactly it; merged or cut
        // texts match none.
        std::size_t j = 0;
        for (const std::string& got : st.scans) {
            auto it = std::find(sent.begin() + static_cast<std::ptrdiff_t>(j), sent.end(), got);
            if (it != sent.end()) {
                ++separate;
                j = static_cast<std::size_t>(it - sent.begin()) + 1;
            } else {
                std::fprintf(stderr, "not one scan: %zu bytes\n", got.size());
            }
        }
        separate = 100.0 * separate / static_cast<double>(sent.size());
    }

    double idleCpu = 0;
    {
        Station st(pty);
        const double c0 = cpuMs();
        pumpFor(std::chrono::seconds(idleSeconds));
        idleCpu = cpuMs() - c0;
    }

    bench::figure("terminator_silence", serial::kTerminatorSilenceMs, "ms");
    bench::figure("quiet_gap", serial::kQuietGapMs, "ms");
    bench::figure("baseline_pty_latency_median", bench::percentile(raw, 50), "ms");
    bench::figure("baseline_pty_latency_p99", bench::percentile(raw, 99), "ms");
    bench::figure("crlf_latency_median", bench::percentile(crlf, 50), "ms");
    bench::figure("crlf_latency_p99", bench::percentile(crlf, 99), "ms");
    bench::figure("no_suffix_latency_median", bench::percentile(bare, 50), "ms");
    bench::figure("no_suffix_latency_p99", bench::percentile(bare, 99), "ms");
    bench::figure("no_suffix_over_gap_p99", bench::percentile(bare, 99) - serial::kQuietGapMs,
                  "ms");
    bench::figure("back_to_back_50_per_s_separate", separate, "%");
    bench::figure("back_to_back_scans", backToBack, "scans");
    bench::figure("idle_port_cpu", idleCpu, "ms");
    bench::figure("idle_seconds", idleSeconds, "s");
    return 0;
}
