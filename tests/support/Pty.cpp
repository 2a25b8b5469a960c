#include "tests/support/Pty.h"

#include "serial/ThreadSync.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace vx::test {

Pty::Pty() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    m_slave = ptsname(m_master);
    // The master side echoes nothing back: the slave is set raw on open,
    // but until then keep the line discipline out of the way.
    termios tio{};
    int s = ::open(m_slave.c_str(), O_RDWR | O_NOCTTY);
    if (s >= 0) {
        tcgetattr(s, &tio);
        cfmakeraw(&tio);
        tcsetattr(s, TCSANOW, &tio);
        ::close(s);
    }
}

Pty::~Pty() {
    closeMaster();
}

void Pty::write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            throw std::runtime_error("write to pty master failed");
        }
        done += static_cast<std::size_t>(n);
    }
}

void Pty::closeMaster() {
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

bool pumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    auto& sync = serial::UiSync::instance();
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        sync.drain();
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        sync.waitForWork(std::chrono::milliseconds(5));
    }
}

void pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

} // namespace vx::test
