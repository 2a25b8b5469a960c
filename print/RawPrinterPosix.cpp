// Raw print jobs on Linux: a socket to the printer's port, a device written
// directly, or a CUPS queue through lp -o raw.

#include "print/CupsQueue.h"
#include "print/PrintJob.h"
#include "print/Process.h"
#include "print/RawSend.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#ifdef __linux__
#include <linux/sockios.h>
#include <linux/tcp.h>
#endif

namespace vx::print {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

std::string seconds(milliseconds d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g s", static_cast<double>(d.count()) / 1000.0);
    return buf;
}

// Milliseconds to the deadline for poll, rounded up so a wait does not end
// before it; at most cap, never negative.
int pollMs(Clock::time_point deadline, milliseconds cap) {
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, cap.count()));
}

int pollRetrying(pollfd& p, int ms) {
    int ready = 0;
    while ((ready = ::poll(&p, 1, ms)) < 0 && errno == EINTR) {
    }
    return ready;
}

// Bytes of the written ones that the far end of a socket has acknowledged.
// Linux counts them for the connection's whole life, also after a reset
// has emptied the send queue; elsewhere they are what left the queue.
std::size_t acknowledged(int fd, std::size_t written) {
#ifdef __linux__
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) == 0 &&
        len >= offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked)
        return static_cast<std::size_t>(
            std::min<std::uint64_t>(info.tcpi_bytes_acked, written)); // our FIN counts one
#endif
#ifdef SIOCOUTQ
    int queued = 0;
    if (::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued >= 0)
        return written > static_cast<std::size_t>(queued)
                   ? written - static_cast<std::size_t>(queued)
                   : 0;
#endif
    return 0;
}

int socketError(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return errno;
    return err;
}

// Connects to one of the host's addresses within the time allowed; -1 and
// the reason in why when none answers.
int connectSocket(const RawDestination& d, milliseconds timeout, std::string& why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(d.host.c_str(), d.port.c_str(), &hints, &list);
    if (rc != 0) {
        why = "cannot find the host \"" + d.host + "\": " + ::gai_strerror(rc);
        return -1;
    }
    const auto deadline = Clock::now() + timeout;
    why = "no address to connect to";
    for (addrinfo* a = list; a; a = a->ai_next) {
        Fd fd(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (fd.get() < 0) {
            why = std::strerror(errno);
            continue;
        }
        int err = 0;
        if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                pollfd p{fd.get(), POLLOUT, 0};
                int ready = 0;
                while ((ready = pollRetrying(p, pollMs(deadline, timeout))) == 0 &&
                       Clock::now() < deadline) {
                }
                err = ready > 0 ? socketError(fd.get()) : ready < 0 ? errno : ETIMEDOUT;
            }
        }
        if (err == 0) {
            ::freeaddrinfo(list);
            return fd.release();
        }
        why = err == ETIMEDOUT ? "no answer within " + seconds(timeout) : std::strerror(err);
        if (Clock::now() >= deadline)
            break;
    }
    ::freeaddrinfo(list);
    return -1;
}

std::string tookOf(const RawSendResult& r, std::size_t total) {
    if (!r.accepted)
        return "; how much of it the printer took is unknown (" + std::to_string(r.reached) +
               " of " + std::to_string(total) + " bytes reached it)";
    return "; it took " + std::to_string(*r.accepted) + " of " + std::to_string(total) + " bytes";
}

std::string stalled(milliseconds stall) {
    return "it took nothing for " + seconds(stall) +
           " (the printer stopped reading: paper out, head open, or paused?)";
}

// Asks a send's watch, at most every 50 ms, whether to go on, telling it the
// bytes taken so far; go on where there is none.
class Watch {
public:
    explicit Watch(const RawTimeouts& t) : m_watch(t.watch) {}
    bool goOn(std::size_t taken) {
        if (!m_watch || Clock::now() - m_last < milliseconds(50))
            return true;
        m_last = Clock::now();
        return m_watch(taken);
    }

private:
    const std::function<bool(std::size_t)>& m_watch;
    Clock::time_point m_last{};
};

// Sends every byte on a connected non-blocking socket and waits until the
// printer has read the whole job: its end acknowledges the last byte, and
// then, after our end of file, it closes the connection. Any byte written or
// acknowledged restarts the stall timer. What the printer acknowledged while
// the connection stayed open, it took; a printer that closes or resets the
// connection first throws away what it had not read, and how much that was
// is unknown.
RawSendResult sendOnSocket(int fd, const std::string& bytes, const RawTimeouts& t,
                           const std::string& where) {
    RawSendResult r;
    std::size_t written = 0;
    auto lastProgress = Clock::now();
    auto note = [&] {
        const std::size_t acked = acknowledged(fd, written);
        if (acked > r.reached) {
            r.reached = acked;
            lastProgress = Clock::now();
        }
    };
    // The printer ended the connection: the count is no longer known.
    auto ended = [&](const std::string& why) {
        note();
        r.accepted.reset();
        r.message = where + ": " + why + tookOf(r, bytes.size());
        return r;
    };
    // Paused, or the job cancelled, the printer keeps what it acknowledged.
    auto stop = [&](const std::string& why) {
        r.accepted = r.reached;
        r.message = where + ": " + why + tookOf(r, bytes.size());
        return r;
    };
    Watch watch(t);
    while (written < bytes.size() || r.reached < bytes.size()) {
        note();
        if (!watch.goOn(r.reached)) {
            r.cancelled = true;
            return stop("the job was cancelled");
        }
        if (written < bytes.size()) {
            const std::size_t chunk = std::min<std::size_t>(bytes.size() - written, 1 << 20);
            const ssize_t n = ::send(fd, bytes.data() + written, chunk, MSG_NOSIGNAL);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
                lastProgress = Clock::now();
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                return ended(n == 0 ? std::string("it takes no more data") : std::strerror(errno));
        }
        if (written == bytes.size() && r.reached == bytes.size())
            break;
        const auto deadline = lastProgress + t.stall;
        if (Clock::now() >= deadline)
            return stop(stalled(t.stall));
        // While writing: until there is room. While waiting for the last
        // acknowledgement: a short nap, woken early by the printer's end of
        // the connection.
        pollfd p{fd, static_cast<short>(written < bytes.size() ? POLLOUT : POLLRDHUP), 0};
        const int wait = written < bytes.size() ? 100 : 2;
        if (pollRetrying(p, pollMs(deadline, milliseconds(wait))) > 0 &&
            (p.revents & (POLLERR | POLLHUP | POLLNVAL | POLLRDHUP))) {
            note();
            if (r.reached < bytes.size()) {
                const int err = socketError(fd);
                return ended(err ? std::strerror(err) : std::string("it closed the connection"));
            }
        }
    }
    // Every byte is acknowledged. End of file, then wait for the printer to
    // close its end, as it does once it has read all: a reset instead says
    // it threw part of the job away. A printer that keeps the connection
    // open holds the job.
    ::shutdown(fd, SHUT_WR);
    auto deadline = Clock::now() + t.stall;
    for (;;) {
        pollfd p{fd, POLLIN | POLLRDHUP, 0};
        const int ready = pollRetrying(p, pollMs(deadline, t.stall));
        if (ready <= 0)
            break;
        char reply[512];
        const ssize_t n = ::recv(fd, reply, sizeof reply, MSG_DONTWAIT);
        if (n == 0)
            break;
        if (n > 0) { // a status message: the printer is alive and working
            deadline = Clock::now() + t.stall;
            continue;
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
            continue;
        return ended(std::string(std::strerror(errno)) + " before it had read the whole job");
    }
    r.ok = true;
    r.accepted = bytes.size();
    return r;
}

// Writes every byte to a non-blocking device: what was written, it took.
// Where it is a pipe, what its reader left unread when it went was not.
RawSendResult writeToDevice(int fd, const std::string& bytes, const RawTimeouts& t,
                            const std::string& where) {
    RawSendResult r;
    std::size_t written = 0;
    struct stat st {};
    const bool pipe = ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
    auto fail = [&](const std::string& why) {
        std::size_t taken = written;
        int unread = 0;
        if (pipe && ::ioctl(fd, FIONREAD, &unread) == 0 && unread > 0)
            taken -= std::min(taken, static_cast<std::size_t>(unread));
        r.accepted = taken;
        r.reached = written;
        r.message = where + ": " + why + tookOf(r, bytes.size());
        return r;
    };
    auto lastProgress = Clock::now();
    Watch watch(t);
    while (written < bytes.size()) {
        if (!watch.goOn(written)) {
            r.cancelled = true;
            return fail("the job was cancelled");
        }
        const std::size_t chunk = std::min<std::size_t>(bytes.size() - written, 1 << 20);
        const ssize_t n = ::write(fd, bytes.data() + written, chunk);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            lastProgress = Clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return fail(n == 0 ? std::string("it takes no more data") : std::strerror(errno));
        const auto deadline = lastProgress + t.stall;
        if (Clock::now() >= deadline)
            return fail(stalled(t.stall));
        pollfd p{fd, POLLOUT, 0};
        if (pollRetrying(p, pollMs(deadline, milliseconds(100))) > 0 &&
            (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            if (p.revents & POLLNVAL)
                return fail("the line was closed");
            // The device's own word on it: one more write tells why.
            const ssize_t more = ::write(fd, bytes.data() + written,
                                         std::min<std::size_t>(bytes.size() - written, 4096));
            if (more > 0) {
                written += static_cast<std::size_t>(more);
                lastProgress = Clock::now();
                continue;
            }
            const int err = more < 0 && errno != EAGAIN && errno != EWOULDBLOCK ? errno : 0;
            return fail(err ? std::strerror(err) : std::string("the line was closed"));
        }
    }
    r.ok = true;
    r.accepted = r.reached = written;
    return r;
}

} // namespace

namespace raw {

RawSendResult sendSocket(const RawDestination& d, const std::string& bytes, const RawTimeouts& t) {
    std::string why;
    Fd fd(connectSocket(d, t.connect, why));
    if (fd.get() < 0) {
        RawSendResult r;
        r.message = "cannot connect to " + d.describe() + ": " + why;
        return r;
    }
    return sendOnSocket(fd.get(), bytes, t, d.describe());
}

} // namespace raw

namespace {

// A pipe whose reader has gone raises SIGPIPE on write, which would end the
// station: while one of these lives, the signal is held on this thread, and
// one raised meanwhile is taken off it; the write fails with EPIPE instead.
class SigpipeHeld {
public:
    SigpipeHeld() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipe, &m_old);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeHeld() {
        sigset_t pending;
        sigpending(&pending);
        if (!m_wasPending && sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec now{0, 0};
            while (::sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    SigpipeHeld(const SigpipeHeld&) = delete;
    SigpipeHeld& operator=(const SigpipeHeld&) = delete;

private:
    sigset_t m_old;
    bool m_wasPending = false;
};

} // namespace

namespace raw {

RawSendResult sendDevice(const RawDestination& d, const std::string& bytes, const RawTimeouts& t) {
    // Never created: a mistyped device name must not become a file in /dev.
    // Appended to: a plain file collects the jobs sent to it, as a printer would.
    Fd fd(::open(d.name.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        RawSendResult r;
        const int err = errno;
        r.message = "cannot open " + d.name + ": " + std::strerror(err);
        if (err == ENXIO)
            r.message += " (no printer attached, or nothing reading it)";
        return r;
    }
    SigpipeHeld held;
    return writeToDevice(fd.get(), bytes, t, d.name);
}

RawSendResult sendQueue(const RawDestination& d, const std::string& bytes, const std::string& title,
                        const RawTimeouts& t) {
    RawSendResult r;
    namespace fs = std::filesystem;
    std::string path = (fs::temp_directory_path() / "vexora-raw-XXXXXX").string();
    Fd fd(::mkostemp(path.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        r.message = "cannot write the job to " + fs::temp_directory_path().string() + ": " +
                    std::strerror(errno);
        return r;
    }
    struct Remove {
        std::string path;
        ~Remove() { ::unlink(path.c_str()); }
    } remove{path};
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            r.message = "cannot write the job to " + path + ": " + std::strerror(errno);
            return r;
        }
        done += static_cast<std::size_t>(n);
    }
    std::vector<std::string> lp{"lp", "-o", "raw", "-t", title};
    if (!d.name.empty()) {
        lp.push_back("-d");
        lp.push_back(d.name);
    }
    lp.push_back(path);
    ProcessResult sent;
    try {
        sent = runProcess(lp, t.queue);
    } catch (const PrintError& e) {
        r.message = std::string(e.what()) + " (install Debian's cups-client)";
        return r;
    }
    if (!sent.succeeded()) {
        std::string said = sent.output;
        while (!said.empty() && (said.back() == '\n' || said.back() == '\r'))
            said.pop_back();
        r.message = "lp to " + d.describe() + " failed (" + sent.describe() + "): " + said;
        return r;
    }
    r.ok = true;
    r.accepted = r.reached = bytes.size(); // CUPS holds the whole job
    r.held = cupsQueueHolds(d.name);
    return r;
}

} // namespace raw

} // namespace vx::print
