#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace vx::test {

// An in-process pseudo-terminal: the test writes to the master side, the
// code under test opens the slave by its path, as it would a scanner.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slavePath() const { return m_slave; }
    void write(const std::string& bytes);
    // Closing the master hangs up the slave, like an unplugged scanner.
    void closeMaster();

private:
    int m_master = -1;
    int m_keepSlave = -1;
    std::string m_slave;
};

// Runs handed-over calls on this (the UI) thread until pred holds.
bool pumpUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
// Runs handed-over calls for a while; for checking that nothing happens.
void pumpFor(std::chrono::milliseconds duration);

} // namespace vx::test
