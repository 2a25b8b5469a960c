// POSIX: exclusive creation with O_EXCL; a rename that refuses to replace
// (renameat2 on Linux, else a hard link, which fails on a taken name, and an
// unlink).

#include "data/NewFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vx::data::platform {

std::FILE* createExclusive(const std::string& path, bool& taken, std::string& why) {
    taken = false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        taken = errno == EEXIST;
        why = std::strerror(errno);
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        why = std::strerror(errno);
        ::close(fd);
        ::unlink(path.c_str());
    }
    return f;
}

bool syncFile(std::FILE* file, std::string& why) {
    // Some file systems (pipes, a few FUSE ones) cannot sync; that is no
    // reason to refuse the file.
    if (::fsync(::fileno(file)) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

bool renameNoReplace(const std::string& from, const std::string& to, std::string& why) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        why = std::strerror(errno);
        return false;
    }
#endif
    if (::link(from.c_str(), to.c_str()) != 0) {
        why = std::strerror(errno);
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

unsigned long processId() {
    return static_cast<unsigned long>(::getpid());
}

} // namespace vx::data::platform
