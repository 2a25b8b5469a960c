#include "tests/support/Wine.h"

#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vx::test {
namespace {

// Set by the build: where wine64 and the Windows build are.
constexpr const char* kWine = VEXORA_WINE64;
constexpr const char* kWineServer = VEXORA_WINESERVER;
constexpr const char* kWindowsBin = VEXORA_WINDOWS_BIN_DIR;

WineRun spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
              const std::string& outFile, const std::string& errFile,
              std::chrono::seconds timeout) {
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::setpgid(0, 0);
        std::vector<char*> args, envp;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const auto& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        ::execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    WineRun result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.out = readFile(outFile);
    result.err = readFile(errFile);
    return result;
}

// Starts Xvfb on a display it picks itself; returns its pid and ":N".
pid_t startXvfb(std::string& display) {
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 3);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten",
                 "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (number.empty()) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        throw std::runtime_error("Xvfb did not start");
    }
    display = ":" + number;
    return pid;
}

} // namespace

WinePrefix::WinePrefix(bool withDesktop, std::vector<std::string> env)
    : m_prefix(m_dir.file("prefix")), m_env(std::move(env)) {
    if (withDesktop)
        m_xvfb = startXvfb(m_display);
    // wineboot creates the prefix; done here so that the first program's run
    // is not also the prefix's set-up.
    const WineRun boot = run({"wineboot", "--init"});
    if (boot.status != 0) {
        if (m_xvfb > 0) {
            ::kill(m_xvfb, SIGTERM);
            ::waitpid(m_xvfb, nullptr, 0);
        }
        throw std::runtime_error("wineboot failed: " + boot.err);
    }
}

WinePrefix::~WinePrefix() {
    // Ends whatever the prefix still runs, the wine server included, before
    // the folder goes.
    spawn({kWineServer, "-k"}, environment({}), m_dir.file("wineserver.out"),
          m_dir.file("wineserver.err"), std::chrono::seconds(30));
    spawn({kWineServer, "-w"}, environment({}), m_dir.file("wineserver.out"),
          m_dir.file("wineserver.err"), std::chrono::seconds(30));
    if (m_xvfb > 0) {
        ::kill(m_xvfb, SIGTERM);
        ::waitpid(m_xvfb, nullptr, 0);
    }
}

std::vector<std::string> WinePrefix::environment(const std::vector<std::string>& extra) const {
    std::vector<std::string> env = {
        "WINEPREFIX=" + m_prefix,
        "WINEDEBUG=-all",
        // No Mono or Gecko installer prompt: .NET and the HTML engine are not used.
        "WINEDLLOVERRIDES=mscoree,mshtml=",
        "HOME=" + m_dir.path(),
        "PATH=/usr/bin:/bin",
        "LANG=C.UTF-8",
    };
    if (!m_display.empty())
        env.push_back("DISPLAY=" + m_display);
    // A later setting of a name replaces an earlier one.
    for (const auto* more : {&m_env, &extra})
        for (const std::string& e : *more) {
            const std::string name = e.substr(0, e.find('=') + 1);
            std::erase_if(env, [&](const std::string& x) { return x.rfind(name, 0) == 0; });
            env.push_back(e);
        }
    return env;
}

WineRun WinePrefix::run(const std::vector<std::string>& argv, std::chrono::seconds timeout,
                        const std::vector<std::string>& env) {
    std::vector<std::string> args = {kWine};
    args.insert(args.end(), argv.begin(), argv.end());
    return spawn(args, environment(env), m_dir.file("run.out"), m_dir.file("run.err"), timeout);
}

std::unique_ptr<Child> WinePrefix::start(const std::vector<std::string>& argv,
                                         const std::vector<std::string>& env,
                                         const std::string& workdir,
                                         const std::string& outputFile) {
    std::vector<std::string> args = {kWine};
    args.insert(args.end(), argv.begin(), argv.end());
    return std::make_unique<Child>(args, workdir, false, environment(env), true, outputFile);
}

void WinePrefix::linkSerialPort(int n, const std::string& unixPath) {
    const std::string name = "COM" + std::to_string(n);
    const WineRun r =
        run({"reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", name, "/d", unixPath, "/f"});
    if (r.status != 0)
        throw std::runtime_error("reg add " + name + " failed: " + r.err);
    // The session that is running keeps the link it made: replace it too.
    const std::string link = m_prefix + "/dosdevices/com" + std::to_string(n);
    ::unlink(link.c_str());
    if (::symlink(unixPath.c_str(), link.c_str()) != 0)
        throw std::runtime_error("cannot link " + link);
}

std::string WinePrefix::windowsPath(const std::string& unixPath) {
    std::string out = "Z:" + unixPath;
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return out;
}

std::string WinePrefix::windowsProgram(const std::string& name) {
    return std::string(kWindowsBin) + "/" + name;
}

} // namespace vx::test
