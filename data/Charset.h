#pragma once

#include <string>
#include <string_view>

namespace vx::data {

// The station's code page, as a character set name the C library and the
// ODBC drivers know: the locale's character set on POSIX ("UTF-8" where the
// locale names none), "CP<n>" for the ANSI code page on Windows. Texts typed
// in the window and label files are in it unless config.ini says otherwise.
std::string stationCharset();

// Converts text in charset to UTF-16; raises DbError on bytes that are not
// text in that character set.
std::u16string toUtf16(std::string_view text, const std::string& charset);

} // namespace vx::data
