// Windows: code pages through MultiByteToWideChar and WideCharToMultiByte;
// the new file replaces the old one with ReplaceFile, which keeps its
// attributes and security.

#include "settings/IniFile.h"
#include "settings/IniFilePlatform.h"

#include <windows.h>

namespace vx::settings::detail {

std::u16string fromCodePage(std::string_view s, unsigned codePage) {
    if (s.empty())
        return {};
    const int size = static_cast<int>(s.size());
    const int n = MultiByteToWideChar(codePage, 0, s.data(), size, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    MultiByteToWideChar(codePage, 0, s.data(), size, reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

std::string toCodePage(std::u16string_view s, unsigned codePage) {
    if (s.empty())
        return {};
    const auto* w = reinterpret_cast<const wchar_t*>(s.data());
    const int size = static_cast<int>(s.size());
    const int n = WideCharToMultiByte(codePage, 0, w, size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, w, size, out.data(), n, nullptr, nullptr);
    return out;
}

void writeAtomically(const std::string& path, const std::string& data) {
    const std::string tmp = path + ".tmp";
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY))
        throw IniWriteError(path);
    // A temporary file left by a crash goes first; the new one is then made
    // afresh, never opened through whatever else may have taken its name.
    DeleteFileA(tmp.c_str());
    HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw IniWriteError(path);
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < data.size()) {
        DWORD n = 0;
        ok =
            WriteFile(h, data.data() + done, static_cast<DWORD>(data.size() - done), &n, nullptr) &&
            n > 0;
        done += n;
    }
    ok = ok && FlushFileBuffers(h);
    ok = CloseHandle(h) && ok;
    // ReplaceFile keeps the old file's attributes and security, as an
    // existing file keeps its permissions elsewhere.
    ok = ok && (exists ? ReplaceFileA(path.c_str(), tmp.c_str(), nullptr,
                                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                       : MoveFileExA(tmp.c_str(), path.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    if (!ok) {
        DeleteFileA(tmp.c_str());
        throw IniWriteError(path);
    }
}

} // namespace vx::settings::detail
