#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vx::test {

// A label printer's raw port on 127.0.0.1, served by a thread: it takes
// connections one after the other and keeps what each sent until its sender
// closed it (one job each).
class RawListener {
public:
    struct Options {
        // SO_RCVBUF of the port (0: the system's); a small one stops the
        // kernel from taking megabytes on the printer's behalf.
        int receiveBuffer = 0;
        // Reads this many bytes of a connection, then nothing more, as a
        // printer out of paper does; the connection stays open.
        std::size_t stopReadingAfter = std::numeric_limits<std::size_t>::max();
        // Reads this many bytes of a connection, then closes it with the
        // rest unread, as a printer that gives up midway does.
        std::size_t closeAfter = std::numeric_limits<std::size_t>::max();
        // False: never accepts, and a connection of its own fills the
        // smallest backlog, so connections to it get no answer at all.
        bool accept = true;
    };

    RawListener();
    explicit RawListener(Options options);
    ~RawListener();
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;

    int port() const { return m_port; }
    // "tcp://127.0.0.1:PORT", as [print] printer names it.
    std::string destination() const;

    // Waits until count connections have been closed by their sender.
    bool waitJobs(std::size_t count, std::chrono::milliseconds timeout);
    std::vector<std::string> jobs() const;
    // Bytes read so far, of every connection.
    std::size_t received() const;

private:
    void serve();

    Options m_options;
    int m_listen = -1;
    int m_filler = -1;
    int m_stop[2] = {-1, -1};
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_jobs;
    std::size_t m_received = 0;
    std::thread m_thread;
};

// A port on 127.0.0.1 that nothing listens on (kept bound, so nothing else
// takes it while it lives): connecting is refused.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    std::string destination() const;

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace vx::test
