#include "tests/support/SmallDisk.h"

#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vx::test {
namespace {

constexpr int kCannot = 77; // the child could not make the disk

bool writeAll(int fd, const std::string& s) {
    std::size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// In the child: the folder on a tmpfs of its own; "" when mounts are refused.
std::string mountTmpfs(const std::string& folder, DiskTrouble trouble, std::size_t bytes,
                       const std::function<void()>& prepare) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return {};
    const std::string size = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) != 0)
        return {};
    if (prepare)
        prepare();
    if (trouble == DiskTrouble::ReadOnly &&
        ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        _exit(kCannot);
    return "tmpfs";
}

std::string withoutMounts(const std::string& folder, DiskTrouble trouble, std::size_t bytes,
                          const std::function<void()>& prepare) {
    if (prepare)
        prepare();
    if (trouble == DiskTrouble::Full) {
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of killing
        rlimit lim{static_cast<rlim_t>(bytes), RLIM_INFINITY};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0)
            _exit(kCannot);
        return "file size limit";
    }
    if (::geteuid() == 0) // root writes into folders whatever their permissions
        _exit(kCannot);
    ::chmod(folder.c_str(), 0555);
    return "folder permissions";
}

} // namespace

ChildResult runOnTroubledDisk(const std::string& folder, DiskTrouble trouble, std::size_t bytes,
                              const TroubledBody& body, const std::function<void()>& prepare) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string how = mountTmpfs(folder, trouble, bytes, prepare);
        if (how.empty())
            how = withoutMounts(folder, trouble, bytes, prepare);
        auto relieve = [&] {
            if (how == "tmpfs") {
                const std::string size = "size=" + std::to_string(bytes * 16);
                ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT, size.c_str());
            } else {
                rlimit lim{RLIM_INFINITY, RLIM_INFINITY};
                ::setrlimit(RLIMIT_FSIZE, &lim);
            }
        };
        const std::string out = how + "\n" + body(relieve);
        _exit(writeAll(fds[1], out) ? 0 : 1);
    }
    ::close(fds[1]);
    std::string all;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        all.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ChildResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.ran = r.exitCode != kCannot;
    const auto nl = all.find('\n');
    r.howMade = all.substr(0, nl);
    r.output = nl == std::string::npos ? "" : all.substr(nl + 1);
    return r;
}

} // namespace vx::test
