#pragma once

#include <string>
#include <string_view>

// The settings file's parts that differ by platform, one file per platform
// (IniFilePosix.cpp, IniFileWin32.cpp), and the UTF conversions both use.
namespace vx::settings::detail {

// UTF-16 as UTF-8 and back (IniFile.cpp). lenient keeps a lone surrogate as
// its own three bytes; otherwise it becomes U+FFFD, as do invalid bytes.
std::string utf8FromUtf16(std::u16string_view s, bool lenient);
std::u16string utf16FromUtf8(std::string_view s, bool lenient);

// Text in a Windows code page (0: the station's own) as UTF-16 and back;
// what the code page cannot express becomes '?'.
std::u16string fromCodePage(std::string_view s, unsigned codePage);
std::string toCodePage(std::u16string_view s, unsigned codePage);

// Replaces the file at path with data, through "<path>.tmp" made afresh;
// raises IniWriteError, also for a read-only file.
void writeAtomically(const std::string& path, const std::string& data);

} // namespace vx::settings::detail
