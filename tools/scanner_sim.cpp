// Scanner simulator: a pseudo-terminal that behaves like a barcode scanner on
// a serial port. The station opens the device it prints (or the fixed path
// given with --link); every line read from standard input or a file is sent
// as one scan, followed by the chosen suffix.
//
// With --rate the scans go back to back at that many a second, as from a
// fixed-mount scanner over a conveyor; with --escapes a line may hold the
// line breaks of a 2D code as \r and \n.
//
// Lines starting with '!' are commands, not scans:
//   !unplug   hang up the device, as pulling the scanner's USB plug does
//   !replug   create a new device (and re-point --link at it)
//   !pause N  wait N ms

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <signal.h>
#include <stdlib.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

struct Options {
    std::string link;
    std::string suffix = "\r";
    int chunk = 0;      // bytes per write; 0: the whole scan at once
    int chunkDelay = 5; // ms between chunks
    int pause = 0;      // ms after each scan
    double rate = 0;    // scans a second, back to back; 0: as the lines come
    bool escapes = false;
    std::string file; // scans from this file instead of standard input
    bool quiet = false;
};

constexpr const char* kUsageLine = "usage: vexora-scanner-sim [options]\n";

// A wrong command line: what was wrong and the usage line, on standard error.
int usageError(const std::string& what) {
    std::fprintf(stderr, "vexora-scanner-sim: %s\n%s(see --help)\n", what.c_str(), kUsageLine);
    return 2;
}

void usage() {
    std::puts("usage: vexora-scanner-sim [options]\n"
              "\n"
              "Simulates a barcode scanner on a serial port: opens a pseudo-terminal,\n"
              "prints the device the station should open, and sends one scan per line\n"
              "read from standard input (or --file).\n"
              "\n"
              "  --link PATH        also make PATH a symbolic link to the device, so the\n"
              "                     station can keep one port name across restarts\n"
              "  --suffix S         what the scanner sends after each code:\n"
              "                     none, cr (default), lf or crlf\n"
              "  --chunk N          send each scan in pieces of N bytes ...\n"
              "  --chunk-delay MS   ... with MS milliseconds between pieces (default 5)\n"
              "  --pause MS         wait MS milliseconds after each scan (default 0)\n"
              "  --rate N           send the scans back to back, N a second: each one\n"
              "                     starts 1000/N ms after the one before (lines that\n"
              "                     come later are sent when they come)\n"
              "  --escapes          in a scan, \\r, \\n, \\t, \\\\ and \\xHH are sent as\n"
              "                     those bytes (line breaks inside a 2D code)\n"
              "  --file F           read the scans from file F, one per line\n"
              "  --quiet            do not echo what is sent\n"
              "  --version          the version\n"
              "  -h, --help         this text\n"
              "\n"
              "Lines starting with '!' are commands: '!unplug' hangs the device up like\n"
              "a pulled USB plug, '!replug' creates a new device (and re-points --link),\n"
              "'!pause N' waits N ms.");
}

class Device {
public:
    explicit Device(std::string link) : m_link(std::move(link)) {}
    ~Device() { unplug(); }

    bool plug() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return false;
        m_path = ptsname(m_master);
        // Raw line discipline from the start: no echo, no CR/LF translation.
        int s = ::open(m_path.c_str(), O_RDWR | O_NOCTTY);
        if (s >= 0) {
            termios t{};
            tcgetattr(s, &t);
            cfmakeraw(&t);
            tcsetattr(s, TCSANOW, &t);
            ::close(s);
        }
        if (!m_link.empty()) {
            const std::string tmp = m_link + ".new";
            ::unlink(tmp.c_str());
            if (::symlink(m_path.c_str(), tmp.c_str()) != 0 ||
                ::rename(tmp.c_str(), m_link.c_str()) != 0) {
                std::perror("link");
                return false;
            }
        }
        std::printf("device: %s\n", m_path.c_str());
        if (!m_link.empty())
            std::printf("link: %s\n", m_link.c_str());
        std::fflush(stdout);
        return true;
    }

    void unplug() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
            std::printf("unplugged\n");
            std::fflush(stdout);
        }
    }

    bool send(const std::string& bytes) {
        if (m_master < 0)
            return false;
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n < 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // The station never writes, but drain anything that comes so the pty
    // never blocks.
    void drain() {
        if (m_master < 0)
            return;
        char buf[256];
        int flags = fcntl(m_master, F_GETFL);
        fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
        while (::read(m_master, buf, sizeof buf) > 0) {
        }
        fcntl(m_master, F_SETFL, flags);
    }

private:
    std::string m_link;
    std::string m_path;
    int m_master = -1;
};

void sleepMs(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The bytes a line with escapes stands for; other backslashes stay as they are.
std::string unescape(const std::string& line) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 >= line.size()) {
            out += line[i];
            continue;
        }
        const char c = line[i + 1];
        if (c == 'r' || c == 'n' || c == 't' || c == '\\') {
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : '\\';
            ++i;
        } else if (c == 'x' && i + 3 < line.size() &&
                   std::isxdigit(static_cast<unsigned char>(line[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(line[i + 3]))) {
            out += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += line[i];
        }
    }
    return out;
}

volatile sig_atomic_t g_stop = 0;
void onSignal(int) {
    g_stop = 1;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                std::exit(usageError(a + " needs a value"));
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a == "--version") {
            std::printf("vexora-scanner-sim %s\n", VEXORA_VERSION);
            return 0;
        } else if (a == "--link") {
            o.link = value();
        } else if (a == "--suffix") {
            const std::string s = value();
            if (s == "none")
                o.suffix = "";
            else if (s == "cr")
                o.suffix = "\r";
            else if (s == "lf")
                o.suffix = "\n";
            else if (s == "crlf")
                o.suffix = "\r\n";
            else
                return usageError("unknown suffix " + s);
        } else if (a == "--chunk") {
            o.chunk = std::atoi(value().c_str());
        } else if (a == "--chunk-delay") {
            o.chunkDelay = std::atoi(value().c_str());
        } else if (a == "--pause") {
            o.pause = std::atoi(value().c_str());
        } else if (a == "--rate") {
            o.rate = std::atof(value().c_str());
            if (!(o.rate > 0))
                return usageError("--rate needs a number of scans a second above 0");
        } else if (a == "--escapes") {
            o.escapes = true;
        } else if (a == "--file") {
            o.file = value();
        } else if (a == "--quiet") {
            o.quiet = true;
        } else {
            return usageError("unknown option " + a);
        }
    }
    signal(SIGINT, onSignal);
    signal(SIGTERM, onSignal);
    signal(SIGPIPE, SIG_IGN);

    Device device(o.link);
    if (!device.plug()) {
        std::perror("cannot create the scanner device");
        return 1;
    }
    std::ifstream file;
    if (!o.file.empty()) {
        file.open(o.file, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", o.file.c_str());
            return 1;
        }
    }
    std::istream& in = o.file.empty() ? std::cin : file;
    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(o.rate > 0 ? 1.0 / o.rate : 0.0));
    Clock::time_point nextScan = Clock::now();
    std::string line;
    while (!g_stop && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        device.drain();
        if (line == "!unplug") {
            device.unplug();
            continue;
        }
        if (line == "!replug") {
            device.unplug();
            if (!device.plug())
                return 1;
            continue;
        }
        if (line.rfind("!pause ", 0) == 0) {
            sleepMs(std::atoi(line.c_str() + 7));
            continue;
        }
        const std::string scan = (o.escapes ? unescape(line) : line) + o.suffix;
        if (o.rate > 0) {
            std::this_thread::sleep_until(nextScan);
            // On time (a sleep overshoots a little): keep the beat; a line
            // that came late starts a new one.
            const auto now = Clock::now();
            nextScan = (now - nextScan < interval ? nextScan : now) + interval;
        }
        const std::size_t step = o.chunk > 0 ? static_cast<std::size_t>(o.chunk) : scan.size();
        bool ok = true;
        for (std::size_t at = 0; ok && at < scan.size(); at += step) {
            if (at > 0)
                sleepMs(o.chunkDelay);
            ok = device.send(scan.substr(at, step));
        }
        if (!o.quiet) {
            std::printf(ok ? "sent: %s\n" : "not sent (unplugged): %s\n", line.c_str());
            std::fflush(stdout);
        }
        sleepMs(o.pause);
    }
    // Keep the device until interrupted when reading a file, so the station
    // does not see an unplug the moment the scans run out.
    if (!o.file.empty())
        while (!g_stop)
            sleepMs(100);
    return 0;
}
