// Serial device on POSIX terminals (termios). Port names are device paths;
// a bare name such as "ttyUSB0" is taken from /dev. Names keep their case.

#include "serial/ComDevice.h"
#include "serial/ComTypes.h"
#include "serial/PortRefusal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace vx::serial {
namespace {

speed_t speedFor(std::uint32_t baud, bool& ok) {
    ok = true;
    switch (baud) {
    case 110:
        return B110;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
#ifdef B230400
    case 230400:
        return B230400;
#endif
    default:
        ok = false; // 14400, 56000, 128000, 256000 have no termios speed
        return B9600;
    }
}

// A bare name ("ttyUSB0") is a device of /dev.
std::string devicePath(const std::string& port) {
    return port.find('/') == std::string::npos ? "/dev/" + port : port;
}

// A terminal that is not a real UART (a pseudo-terminal) has no modem lines;
// asking for them is not an error of the port.
bool noModemLines(int err) {
    return err == ENOTTY || err == EINVAL;
}

class PosixComDevice final : public ComDevice {
public:
    PosixComDevice() {
        if (::pipe(m_signal) == 0) {
            ::fcntl(m_signal[0], F_SETFL, O_NONBLOCK);
            ::fcntl(m_signal[1], F_SETFL, O_NONBLOCK);
            ::fcntl(m_signal[0], F_SETFD, FD_CLOEXEC);
            ::fcntl(m_signal[1], F_SETFD, FD_CLOEXEC);
        }
    }
    ~PosixComDevice() override {
        close();
        ::close(m_signal[0]);
        ::close(m_signal[1]);
    }

    int open(const std::string& port) override {
        const std::string path = devicePath(port);
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return errno;
        // flock first: TIOCEXCL alone is racy and does not stop root.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int err = errno == EWOULDBLOCK ? EBUSY : errno;
            ::close(fd);
            return err;
        }
        if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
            int err = errno;
            ::close(fd);
            return err;
        }
        termios tio{};
        if (::tcgetattr(fd, &tio) != 0) {
            int err = errno;
            ::close(fd);
            return err;
        }
        // A closed port hears nothing: what the scanner sent meanwhile and the
        // tty kept is dropped, as a serial driver does on open.
        ::tcflush(fd, TCIFLUSH);
        m_fd = fd;
        m_pushback = -1;
        return 0;
    }

    void close() override {
        if (m_fd < 0)
            return;
        ::ioctl(m_fd, TIOCNXCL);
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }

    int setupQueues(int, int) override {
        // The kernel sizes its own queues.
        return 0;
    }

    int setState(const DeviceControlBlock& dcb) override {
        termios tio{};
        if (::tcgetattr(m_fd, &tio) != 0)
            return errno;
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~(HUPCL | CSIZE | CSTOPB | PARENB | PARODD);
#ifdef CMSPAR
        tio.c_cflag &= ~CMSPAR;
#endif
#ifdef CRTSCTS
        tio.c_cflag &= ~CRTSCTS;
#endif
        tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
        switch (dcb.ByteSize) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        case 8:
            tio.c_cflag |= CS8;
            break;
        default:
            return EINVAL;
        }
        switch (dcb.Parity) {
        case 0:
            break;
        case 1:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            tio.c_cflag |= PARENB;
            break;
#ifdef CMSPAR
        case 3:
            tio.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
#endif
        default:
            return EINVAL;
        }
        // CSTOPB gives 1.5 stop bits with 5 data bits and 2 otherwise, as UARTs do.
        if (dcb.StopBits == 1 || dcb.StopBits == 2)
            tio.c_cflag |= CSTOPB;
        else if (dcb.StopBits != 0)
            return EINVAL;
        if (dcb.fParity)
            tio.c_iflag |= INPCK;
#ifdef CRTSCTS
        if (dcb.fOutxCtsFlow || dcb.fRtsControl == 2)
            tio.c_cflag |= CRTSCTS;
#endif
        if (dcb.fOutX)
            tio.c_iflag |= IXON;
        if (dcb.fInX)
            tio.c_iflag |= IXOFF;
        tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
        tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        bool ok = false;
        speed_t speed = speedFor(dcb.BaudRate, ok);
        if (!ok)
            return EINVAL;
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
        if (::tcsetattr(m_fd, TCSANOW, &tio) != 0)
            return errno;
        setLine(TIOCM_DTR, dcb.fDtrControl == 1);
        setLine(TIOCM_RTS, dcb.fRtsControl == 1);
        return 0;
    }

    int setTimeouts(const DeviceTimeouts&) override {
        // The descriptor is non-blocking: every read returns at once with what
        // has arrived, which is what the station's timeouts ask for.
        return 0;
    }

    int purge(unsigned flags) override {
        int which = -1;
        const bool rx = flags & Purge::RxClear, tx = flags & Purge::TxClear;
        if (rx && tx)
            which = TCIOFLUSH;
        else if (rx)
            which = TCIFLUSH;
        else if (tx)
            which = TCOFLUSH;
        if (rx)
            m_pushback = -1;
        if (which >= 0 && ::tcflush(m_fd, which) != 0)
            return errno;
        return 0; // nothing is ever pending: aborting is a no-op here
    }

    int clearErrors(std::uint32_t& errors, int& inQueue) override {
        errors = 0;
        int n = 0;
        if (::ioctl(m_fd, FIONREAD, &n) != 0)
            return errno;
        inQueue = n + (m_pushback >= 0 ? 1 : 0);
        return 0;
    }

    int modemStatus(ModemSignals& s) override {
        int bits = 0;
        if (::ioctl(m_fd, TIOCMGET, &bits) != 0) {
            if (noModemLines(errno)) {
                s = {};
                return 0;
            }
            return errno;
        }
        s.cts = bits & TIOCM_CTS;
        s.dsr = bits & TIOCM_DSR;
        s.ring = bits & TIOCM_RNG;
        s.rlsd = bits & TIOCM_CAR;
        return 0;
    }

    int read(char* buffer, int count, int& got) override {
        got = 0;
        if (count <= 0)
            return 0;
        if (m_pushback >= 0) {
            buffer[got++] = static_cast<char>(m_pushback);
            m_pushback = -1;
        }
        while (got < count) {
            ssize_t n = ::read(m_fd, buffer + got, static_cast<std::size_t>(count - got));
            if (n > 0) {
                got += static_cast<int>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && got == 0)
                return errno;
            break;
        }
        return 0;
    }

    int setEventMask(std::uint32_t mask) override {
        m_mask = mask;
        return 0;
    }

    WaitOutcome waitEvents(std::uint32_t& reported, int timeoutMs) override {
        reported = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        // Without RxChar in the mask received bytes stay unread, and a level-
        // triggered wait for them would fire for ever: then only a hang-up is
        // watched for.
        const short watch = (m_mask & EventMask::RxChar) ? POLLIN : 0;
        for (;;) {
            int wait = -1;
            if (timeoutMs >= 0) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                    end - std::chrono::steady_clock::now());
                wait = static_cast<int>(std::max<std::int64_t>(0, left.count()));
            }
            pollfd fds[2] = {{m_signal[0], POLLIN, 0}, {m_fd, watch, 0}};
            const int rc = ::poll(fds, 2, wait);
            if (rc < 0) {
                if (errno == EINTR)
                    continue;
                return WaitOutcome::Failed;
            }
            if (fds[0].revents & POLLIN)
                return takeSignal();
            if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
                return WaitOutcome::Lost;
            if (fds[1].revents & POLLIN) {
                if (!probeAfterReadable())
                    return WaitOutcome::Lost;
                reported = EventMask::RxChar;
                return WaitOutcome::Events;
            }
            if (rc == 0)
                return WaitOutcome::Timeout;
        }
    }

    WaitOutcome pause(int ms) override {
        pollfd fd{m_signal[0], POLLIN, 0};
        const int rc = ::poll(&fd, 1, ms);
        if (rc > 0 && (fd.revents & POLLIN))
            return takeSignal();
        return WaitOutcome::Timeout;
    }

    void wake() override {
        signal();
    }

    void requestStop() override {
        m_stopRequested = true;
        signal();
    }

    void resetStop() override {
        m_stopRequested = false;
        drainSignal();
    }

private:
    void signal() {
        char b = 1;
        [[maybe_unused]] auto r = ::write(m_signal[1], &b, 1);
    }
    void drainSignal() {
        char buf[64];
        while (::read(m_signal[0], buf, sizeof buf) > 0) {
        }
    }
    WaitOutcome takeSignal() {
        drainSignal();
        return m_stopRequested ? WaitOutcome::Stopped : WaitOutcome::Woken;
    }

    // Readable but nothing counted: either a byte the count missed or a hung
    // up device. One byte is read and kept for the next read() to return.
    bool probeAfterReadable() {
        int n = 0;
        if (::ioctl(m_fd, FIONREAD, &n) == 0 && n > 0)
            return true;
        if (m_pushback >= 0)
            return true;
        unsigned char b = 0;
        ssize_t r = ::read(m_fd, &b, 1);
        if (r == 1) {
            m_pushback = b;
            return true;
        }
        if (r < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        return false; // 0 bytes (end of file) or EIO/ENXIO/ENODEV: gone
    }

    void setLine(int bit, bool on) {
        ::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bit);
    }

    int m_fd = -1;
    int m_signal[2] = {-1, -1}; // stop and wake: a byte each
    std::atomic<bool> m_stopRequested{false};
    int m_pushback = -1;
    std::uint32_t m_mask = 0;
};

} // namespace

std::unique_ptr<ComDevice> createComDevice() {
    return std::make_unique<PosixComDevice>();
}

std::string portNameFromOperator(const std::string& typed) {
    return typed;
}

std::optional<PortRefusal> diagnosePortRefusal(const std::string& port, int systemError) {
    if (systemError != EACCES && systemError != EPERM)
        return std::nullopt;
    PortRefusal r;
    r.device = devicePath(port);
    const uid_t uid = ::geteuid();
    const passwd* pw = ::getpwuid(uid);
    r.user = pw ? pw->pw_name : std::to_string(uid);
    const gid_t primary = pw ? pw->pw_gid : ::getegid();
    struct stat st {};
    if (::stat(r.device.c_str(), &st) != 0)
        return r; // the path itself cannot be reached: no group to name
    const group* gr = ::getgrgid(st.st_gid);
    if (!gr)
        return r;
    r.group = gr->gr_name;
    r.groupMayOpen = st.st_gid != 0 && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    // On record: the group database, as the next login reads it.
    if (pw) {
        int n = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(n));
        if (::getgrouplist(pw->pw_name, primary, groups.data(), &n) < 0) {
            groups.resize(static_cast<std::size_t>(n));
            ::getgrouplist(pw->pw_name, primary, groups.data(), &n);
        }
        groups.resize(static_cast<std::size_t>(std::max(n, 0)));
        r.memberOnRecord = std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
    }
    // Now: this process's groups.
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> now(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0)
        ::getgroups(count, now.data());
    r.memberNow =
        ::getegid() == st.st_gid || std::find(now.begin(), now.end(), st.st_gid) != now.end();
    return r;
}

} // namespace vx::serial
