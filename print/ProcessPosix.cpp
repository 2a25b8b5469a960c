// Child processes on POSIX: posix_spawn with the output on a pipe.

#include "print/PrintJob.h"
#include "print/Process.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vx::print {

std::string ProcessResult::describe() const {
    if (timedOut)
        return "did not finish in time";
    if (cancelled)
        return "stopped, the job was cancelled";
    if (signal)
        return "killed by signal " + std::to_string(signal);
    return "exit code " + std::to_string(exitCode);
}

ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::function<bool()>& cancelled) {
    if (argv.empty())
        throw PrintError("no program to run");
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw PrintError(std::string("pipe: ") + std::strerror(errno));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    // The station's own descriptors (the scanner port, the database) stay
    // with the station.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        throw PrintError("cannot run " + argv[0] + ": " + std::strerror(rc));
    }

    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    char buf[4096];
    bool eof = false;
    auto drain = [&] {
        while (!eof) {
            const ssize_t got = ::read(fds[0], buf, sizeof buf);
            if (got < 0 && errno == EINTR)
                continue;
            eof = got == 0;
            if (got <= 0)
                return;
            result.output.append(buf, static_cast<std::size_t>(got));
        }
    };
    int status = 0;
    bool exited = false;
    // The child's own children (a session bus, say) may keep the pipe open
    // long after it ended, so its exit, not the pipe's end, ends the wait.
    while (!exited) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (cancelled && cancelled()) {
            result.cancelled = true;
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        ::poll(&p, eof ? 0 : 1, static_cast<int>(std::min<long long>(left.count(), 20)));
        drain();
        pid_t w = 0;
        while ((w = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
        }
        exited = w == pid;
    }
    if (exited)
        drain();
    else
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    ::close(fds[0]);
    if (!result.timedOut && !result.cancelled) {
        if (WIFSIGNALED(status))
            result.signal = WTERMSIG(status);
        else if (WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

} // namespace vx::print
