// The journal's platform parts on POSIX: the SIGBUS guard around SQLite's
// use of its mapped -shm file, flock on the journal file, hard links.

#include "journal/JournalPlatform.h"

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vx::journal::platform {
namespace {

// The guard of the call this thread is in, if any.
thread_local sigjmp_buf* t_guard = nullptr;
struct sigaction g_previous {};

void onSigbus(int, siginfo_t* info, void*) {
    if (sigjmp_buf* guard = t_guard) {
        t_guard = nullptr;
        siglongjmp(*guard, 1);
    }
    // Not a guarded call: as if this handler had never been there. A fault
    // happens again on return, now handled as before; a signal that was
    // sent is sent again.
    ::sigaction(SIGBUS, &g_previous, nullptr);
    if (info->si_code <= 0)
        ::raise(SIGBUS);
}

void install() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_sigaction = onSigbus;
        // SA_NODEFER: SIGBUS stays unblocked after the jump out of the
        // handler, with no signal mask saved by every guarded call.
        sa.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGBUS, &sa, &g_previous);
    });
}

bool sameFile(int fd, const std::string& path) {
    struct stat open {
    }, named{};
    return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

} // namespace

bool runGuarded(void (*fn)(void*), void* arg) {
    install();
    sigjmp_buf guard;
    sigjmp_buf* const outer = t_guard;
    if (sigsetjmp(guard, 0) != 0) {
        t_guard = outer;
        return false;
    }
    t_guard = &guard;
    fn(arg);
    t_guard = outer;
    return true;
}

FileLock::~FileLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

FileLock::FileLock(FileLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

FileLock::Result FileLock::lock(const std::string& path, Mode mode, bool create, std::string& why) {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    // The name may be given to another file between the open and the lock
    // (an archive puts a new journal in place): the lock then holds the
    // file that is no longer the journal, and is taken again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
        if (fd < 0) {
            why = std::strerror(errno);
            return errno == ENOENT ? Result::Missing : Result::Failed;
        }
        int rc;
        while ((rc = ::flock(fd, (mode == Mode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB)) != 0 &&
               errno == EINTR) {
        }
        if (rc != 0) {
            const int err = errno;
            ::close(fd);
            why = std::strerror(err);
            return err == EWOULDBLOCK ? Result::Busy : Result::Failed;
        }
        if (sameFile(fd, path)) {
            m_fd = fd;
            return Result::Locked;
        }
        ::close(fd);
    }
    why = "the file kept being replaced";
    return Result::Failed;
}

bool FileLock::locks(const std::string& path) const {
    return m_fd >= 0 && sameFile(m_fd, path);
}

void FileLock::abandon() {
    m_fd = -1;
}

bool hardLink(const std::string& from, const std::string& to, bool& otherDevice, std::string& why) {
    otherDevice = false;
    if (::link(from.c_str(), to.c_str()) == 0)
        return true;
    otherDevice = errno == EXDEV || errno == EPERM || errno == ENOTSUP;
    why = std::strerror(errno);
    return false;
}

void copyOwner(const std::string& from, const std::string& to) {
    struct stat st {};
    if (::stat(from.c_str(), &st) != 0)
        return;
    [[maybe_unused]] const int owned = ::chown(to.c_str(), st.st_uid, st.st_gid);
    ::chmod(to.c_str(), st.st_mode & 07777);
}

std::string fileStamp(std::int64_t utcMs) {
    const std::time_t t = static_cast<std::time_t>(utcMs / 1000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tm);
    return buf;
}

} // namespace vx::journal::platform
