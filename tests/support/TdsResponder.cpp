#include "tests/support/TdsResponder.h"

#include "tests/support/TempDir.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vx::test {

TdsResponder::TdsResponder(const std::string& folder, const std::string& script) {
    const std::string scriptFile = folder + "/responder.json";
    const std::string portFile = folder + "/responder.port";
    m_log = folder + "/responder.log";
    writeFile(scriptFile, script);
    std::signal(SIGPIPE, SIG_IGN);
    int in[2];
    if (pipe(in) != 0)
        throw std::runtime_error("pipe");
    m_pid = fork();
    if (m_pid == 0) {
        dup2(in[0], 0);
        close(in[0]);
        close(in[1]);
        execl(VEXORA_PYTHON, VEXORA_PYTHON, VEXORA_TDS_RESPONDER, "--script", scriptFile.c_str(),
              "--log", m_log.c_str(), "--port-file", portFile.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    m_stdin = in[1];
    // It ends when its standard input closes: when this object goes.
    for (int i = 0; i < 500 && m_port == 0; ++i) {
        std::ifstream f(portFile);
        if (!(f >> m_port))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (m_port == 0)
        throw std::runtime_error("the TDS responder did not start");
}

TdsResponder::~TdsResponder() {
    // VEXORA_TDS_LOG=1 shows what arrived, for looking into a failure.
    if (const char* show = std::getenv("VEXORA_TDS_LOG"); show && *show == '1')
        for (const std::string& line : log())
            std::fprintf(stderr, "responder: %s\n", line.c_str());
    close(m_stdin);
    int status = 0;
    waitpid(m_pid, &status, 0);
}

std::string TdsResponder::server() const {
    return "127.0.0.1," + std::to_string(m_port);
}

std::vector<std::string> TdsResponder::log() const {
    std::vector<std::string> lines;
    std::ifstream f(m_log);
    for (std::string line; std::getline(f, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> TdsResponder::find(const std::vector<std::string>& pieces) const {
    std::vector<std::string> out;
    for (const std::string& line : log()) {
        bool all = true;
        for (const std::string& p : pieces)
            all = all && line.find(p) != std::string::npos;
        if (all)
            out.push_back(line);
    }
    return out;
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

} // namespace vx::test
