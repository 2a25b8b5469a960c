#include "tests/support/RawListener.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace vx::test {
namespace {

int boundSocket(int receiveBuffer, int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("bind to 127.0.0.1 failed");
    }
    port = ntohs(a.sin_port);
    return fd;
}

} // namespace

RawListener::RawListener() : RawListener(Options{}) {}

RawListener::RawListener(Options options) : m_options(options) {
    m_listen = boundSocket(options.receiveBuffer, m_port);
    if (::listen(m_listen, options.accept ? 8 : 0) != 0 || ::pipe2(m_stop, O_CLOEXEC) != 0)
        throw std::runtime_error("listen failed");
    if (!options.accept) {
        m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(m_port));
        if (::connect(m_filler, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("cannot fill the backlog");
    }
    m_thread = std::thread([this] { serve(); });
}

RawListener::~RawListener() {
    const char stop = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_stop[1], &stop, 1);
    m_thread.join();
    if (m_filler >= 0)
        ::close(m_filler);
    ::close(m_listen);
    ::close(m_stop[0]);
    ::close(m_stop[1]);
}

std::string RawListener::destination() const {
    return "tcp://127.0.0.1:" + std::to_string(m_port);
}

void RawListener::serve() {
    pollfd stop{m_stop[0], POLLIN, 0};
    for (;;) {
        if (!m_options.accept) {
            ::poll(&stop, 1, -1);
            return;
        }
        pollfd waits[2] = {stop, {m_listen, POLLIN, 0}};
        ::poll(waits, 2, -1);
        if (waits[0].revents)
            return;
        const int conn = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0)
            continue;
        std::string job;
        char buf[65536];
        bool open = true;
        while (open) {
            const bool reading = job.size() < m_options.stopReadingAfter;
            pollfd w[2] = {stop, {conn, static_cast<short>(reading ? POLLIN : 0), 0}};
            ::poll(w, 2, -1);
            if (w[0].revents) {
                ::close(conn);
                return;
            }
            if (!reading)
                continue;
            const std::size_t room = std::min({sizeof buf, m_options.stopReadingAfter - job.size(),
                                               m_options.closeAfter - job.size()});
            const ssize_t got = ::read(conn, buf, room);
            if (got <= 0) {
                open = false;
                break;
            }
            job.append(buf, static_cast<std::size_t>(got));
            {
                std::lock_guard lock(m_mutex);
                m_received += static_cast<std::size_t>(got);
            }
            if (job.size() >= m_options.closeAfter)
                break;
        }
        ::close(conn);
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(job));
        }
        m_changed.notify_all();
    }
}

bool RawListener::waitJobs(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_jobs.size() >= count; });
}

std::vector<std::string> RawListener::jobs() const {
    std::lock_guard lock(m_mutex);
    return m_jobs;
}

std::size_t RawListener::received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

ClosedPort::ClosedPort() {
    m_fd = boundSocket(0, m_port);
}

ClosedPort::~ClosedPort() {
    ::close(m_fd);
}

std::string ClosedPort::destination() const {
    return "tcp://127.0.0.1:" + std::to_string(m_port);
}

} // namespace vx::test
