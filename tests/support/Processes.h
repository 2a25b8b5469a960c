#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vx::test {

// A child process; with a pipe to its standard input when asked for.
class Child {
public:
    // quiet: the child's standard output and error go to /dev/null;
    // outputFile: to that file instead.
    Child(const std::vector<std::string>& argv, const std::string& workdir = {},
          bool pipeStdin = false, const std::vector<std::string>& env = {}, bool quiet = false,
          const std::string& outputFile = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    void writeLine(const std::string& line);
    void closeInput();
    bool running();
    void stop();
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
};

// Runs a shell command and returns its standard output, byte for byte;
// exit status in status (-1 when it did not exit).
std::string run(const std::string& command, int* status = nullptr);

// key=value lines of a file.
std::map<std::string, std::string> readKeyValues(const std::string& path);

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

} // namespace vx::test
