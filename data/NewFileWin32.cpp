// Windows: exclusive creation with CREATE_NEW; a rename without
// MOVEFILE_REPLACE_EXISTING, which refuses a taken name.

#include "data/NewFile.h"
#include "data/SystemMessage.h"

#include <cstdint>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace vx::data::platform {
namespace {

bool isTaken(DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

} // namespace

std::FILE* createExclusive(const std::string& path, bool& taken, std::string& why) {
    taken = false;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        taken = isTaken(e);
        why = systemMessage(e);
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    std::FILE* f = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (!f) {
        why = "Cannot open the file for writing";
        if (fd < 0)
            CloseHandle(h);
        else
            _close(fd);
        DeleteFileA(path.c_str());
    }
    return f;
}

bool syncFile(std::FILE* file, std::string& why) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (!FlushFileBuffers(h)) {
        why = systemMessage(GetLastError());
        return false;
    }
    return true;
}

bool renameNoReplace(const std::string& from, const std::string& to, std::string& why) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    why = systemMessage(GetLastError());
    return false;
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

unsigned long processId() {
    return GetCurrentProcessId();
}

} // namespace vx::data::platform
