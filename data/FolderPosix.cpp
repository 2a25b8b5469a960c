// POSIX: folders with mkdir, the home folder from $HOME or the user database,
// the executable from /proc/self/exe (Linux).

#include "data/Folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vx::data::platform {

bool makeFolder(const std::string& path, std::string& why) {
    if (::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && isFolder(path)))
        return true;
    why = std::strerror(errno);
    return false;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string currentFolder() {
    std::string buf(4096, '\0');
    if (!::getcwd(buf.data(), buf.size()))
        return {};
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

bool isAbsolute(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return {};
}

std::string executablePath() {
    std::string buf(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buf.size())
        return {};
    buf.resize(static_cast<std::size_t>(n));
    return buf;
}

} // namespace vx::data::platform
