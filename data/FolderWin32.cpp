// Windows: folders with CreateDirectoryA, the home folder from %USERPROFILE%.

#include "data/Folder.h"
#include "data/SystemMessage.h"

#include <cstdlib>
#include <windows.h>

namespace vx::data::platform {

bool makeFolder(const std::string& path, std::string& why) {
    if (CreateDirectoryA(path.c_str(), nullptr))
        return true;
    const DWORD e = GetLastError();
    if (e == ERROR_ALREADY_EXISTS && isFolder(path))
        return true;
    why = systemMessage(e);
    return false;
}

bool isFolder(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string currentFolder() {
    char buf[MAX_PATH + 1] = {};
    const DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

bool isAbsolute(const std::string& path) {
    // C:\x, C:/x and \\server\share; "\x" (the current drive's root) too.
    return (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
           (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

std::string homeFolder() {
    const char* home = std::getenv("USERPROFILE");
    return home ? home : "";
}

std::string executablePath() {
    char buf[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

} // namespace vx::data::platform
