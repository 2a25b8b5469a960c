#pragma once

#include <functional>
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

// Converts text in charset to UTF-8 for a report: a byte that is no text
// there is written as \xNN, and the rest converted around it. An unknown
// character set is taken as UTF-8.
std::string toUtf8Escaped(std::string_view text, const std::string& charset);

#if !defined(_WIN32)
// Appends text, converted by iconv from one character set to another, to
// out. Bytes that cannot be converted (not text in from, or nothing in to)
// go to invalid with the rest of the text from them on: it appends what
// stands for them and returns how many bytes to pass over, at least one.
// False, and nothing appended, when iconv knows either name.
bool iconvAppend(
    std::string& out, const char* to, const char* from, std::string_view text,
    const std::function<std::size_t(std::string_view rest, std::string& out)>& invalid);
#endif

} // namespace vx::data
