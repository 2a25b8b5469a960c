// The journal's platform needs on Windows.

#include "data/SystemMessage.h"
#include "journal/JournalPlatform.h"

#include <ctime>
#include <fcntl.h>
#include <io.h>
#include <utility>
#include <windows.h>

namespace vx::journal::platform {
namespace {

// Windows' byte-range locks are mandatory: a lock on the file's contents
// would stop SQLite reading and writing them. The whole-file lock is one
// byte far beyond any journal's end (and away from SQLite's own lock bytes
// near 1 GiB), which only other FileLocks look at.
constexpr DWORD kLockOffsetHigh = 0x40000000, kLockOffsetLow = 0;

// The system's text for an error, or its number where it has none.
std::string systemMessage(DWORD error) {
    const std::string text = data::platform::systemMessage(error);
    return text.empty() ? "error " + std::to_string(error) : text;
}

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool identity(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileInformationByHandle(h, &info) != 0;
}

bool sameFile(int fd, const std::string& path) {
    BY_HANDLE_FILE_INFORMATION open{}, named{};
    if (!identity(handleOf(fd), open))
        return false;
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = identity(h, named);
    CloseHandle(h);
    return ok && open.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
           open.nFileIndexHigh == named.nFileIndexHigh && open.nFileIndexLow == named.nFileIndexLow;
}

} // namespace

bool runGuarded(void (*fn)(void*), void* arg) {
    // No signal for a mapped file that went bad: Windows keeps a mapped file
    // from being truncated under its mapping.
    fn(arg);
    return true;
}

FileLock::~FileLock() {
    if (m_fd >= 0)
        _close(m_fd);
}

FileLock::FileLock(FileLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            _close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

FileLock::Result FileLock::lock(const std::string& path, Mode mode, bool create, std::string& why) {
    if (m_fd >= 0) {
        _close(m_fd);
        m_fd = -1;
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
        HANDLE h =
            CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD err = GetLastError();
            why = systemMessage(err);
            return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? Result::Missing
                                                                              : Result::Failed;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR);
        if (fd < 0) {
            CloseHandle(h);
            why = "no descriptor for the file";
            return Result::Failed;
        }
        OVERLAPPED at{};
        at.OffsetHigh = kLockOffsetHigh;
        at.Offset = kLockOffsetLow;
        const DWORD flags =
            LOCKFILE_FAIL_IMMEDIATELY | (mode == Mode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        if (!LockFileEx(h, flags, 0, 1, 0, &at)) {
            const DWORD err = GetLastError();
            _close(fd);
            why = systemMessage(err);
            return err == ERROR_LOCK_VIOLATION ? Result::Busy : Result::Failed;
        }
        if (sameFile(fd, path)) {
            m_fd = fd;
            return Result::Locked;
        }
        _close(fd);
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
    if (CreateHardLinkA(to.c_str(), from.c_str(), nullptr))
        return true;
    const DWORD err = GetLastError();
    otherDevice = err == ERROR_NOT_SAME_DEVICE || err == ERROR_NOT_SUPPORTED ||
                  err == ERROR_INVALID_FUNCTION || err == ERROR_ACCESS_DENIED;
    why = systemMessage(err);
    return false;
}

void copyOwner(const std::string&, const std::string&) {
    // A new file takes the permissions its folder hands down, the folder the
    // station's user writes the journal in.
}

std::string fileStamp(std::int64_t utcMs) {
    const std::time_t t = static_cast<std::time_t>(utcMs / 1000);
    std::tm tm{};
    gmtime_s(&tm, &t);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tm);
    return buf;
}

} // namespace vx::journal::platform
