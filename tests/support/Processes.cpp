#include "tests/support/Processes.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vx::test {

Child::Child(const std::vector<std::string>& argv, const std::string& workdir, bool pipeStdin,
             const std::vector<std::string>& env, bool quiet, const std::string& outputFile) {
    int fds[2] = {-1, -1};
    if (pipeStdin && ::pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    m_pid = ::fork();
    if (m_pid == 0) {
        if (pipeStdin) {
            ::dup2(fds[0], 0);
            ::close(fds[0]);
            ::close(fds[1]);
        }
        if (quiet || !outputFile.empty()) {
            const int out = outputFile.empty()
                                ? ::open("/dev/null", O_WRONLY)
                                : ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        if (!workdir.empty() && ::chdir(workdir.c_str()) != 0)
            _exit(126);
        for (const auto& e : env)
            ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        _exit(127);
    }
    if (pipeStdin) {
        ::close(fds[0]);
        m_stdin = fds[1];
    }
}

Child::~Child() {
    stop();
}

void Child::writeLine(const std::string& line) {
    const std::string l = line + "\n";
    if (::write(m_stdin, l.data(), l.size()) != static_cast<ssize_t>(l.size()))
        throw std::runtime_error("write to child failed");
}

void Child::closeInput() {
    if (m_stdin >= 0)
        ::close(m_stdin);
    m_stdin = -1;
}

bool Child::running() {
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

void Child::stop() {
    closeInput();
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        for (int i = 0; i < 50 && running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }
}

std::string run(const std::string& command, int* status) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n); // byte for byte, NULs included
    const int rc = ::pclose(p);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::map<std::string, std::string> readKeyValues(const std::string& path) {
    std::map<std::string, std::string> kv;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return kv;
}

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace vx::test
