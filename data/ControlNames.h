#pragma once

#include <string>
#include <string_view>

namespace vx::data {

// A byte text on one line, as the window's lists and the journal's lists
// and reports show a scan: each control byte (below 0x20, and DEL) by its
// ASCII name in angle brackets, "VX000001<CR><LF>", in letters every font
// draws; every other byte as it is. No character of the code pages the
// station runs in (UTF-8, GBK and the other ANSI code pages) holds a
// control byte, so the names go in before the text is decoded.
std::string withControlNames(std::string_view bytes);

} // namespace vx::data
