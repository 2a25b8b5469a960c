#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace vx::test {

// The scripted TDS responder (tds_responder.py) on the loopback, for as long
// as this object lives: FreeTDS talks to it as to a SQL Server, and it logs
// what arrived. script: the JSON list of rules the responder answers by.
class TdsResponder {
public:
    TdsResponder(const std::string& folder, const std::string& script);
    ~TdsResponder();
    TdsResponder(const TdsResponder&) = delete;
    TdsResponder& operator=(const TdsResponder&) = delete;

    // "127.0.0.1,<port>": a server name FreeTDS reaches it by.
    std::string server() const;
    // The log so far, one JSON object a line.
    std::vector<std::string> log() const;
    // Log lines holding every one of the given pieces.
    std::vector<std::string> find(const std::vector<std::string>& pieces) const;

private:
    std::string m_log;
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_port = 0;
};

// The bytes as lower-case hex, as the responder logs them.
std::string hex(const std::string& bytes);

} // namespace vx::test
