#pragma once

#include <string>

namespace vx::serial {

// Looks text up in the message catalogue of the text domain; with no
// catalogue the text comes back as written.
std::string translate(const char* domain, const char* text);

} // namespace vx::serial
