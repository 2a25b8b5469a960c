#pragma once

#include <string>

namespace vx::data::platform {

// Windows: the system's text for an error code (FormatMessage), without
// its line end; "" when the system has none. Callers add the code where
// they want it shown.
std::string systemMessage(unsigned long code);

} // namespace vx::data::platform
