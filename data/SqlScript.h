#pragma once

#include <string>
#include <string_view>

namespace vx::data {

// The text of an SQL script file as it is sent to the database: read line
// by line, each line followed by CR LF. A line ends at LF or CR LF; a CR not
// followed by LF is left out; the byte 26 (Ctrl+Z) ends the text. Other
// bytes, a byte-order mark included, are kept as they are, and lines of any
// length are read whole.
std::string scriptText(std::string_view fileBytes);

// The same, read from a file; raises FileError when it cannot be read.
std::string readSqlScript(const std::string& path);

} // namespace vx::data
