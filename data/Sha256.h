#pragma once

#include <string>
#include <string_view>

namespace vx::data {

// The SHA-256 of bytes, as 64 lower-case hex digits: how the journal names
// a script's text, so that the file run can be told from any other later.
std::string sha256Hex(std::string_view bytes);

} // namespace vx::data
