#pragma once

// The platform's ways of sending a raw job, one file per platform
// (RawPrinterPosix.cpp, RawPrinterWin32.cpp); sendRaw (RawPrinter.cpp) picks
// one by the destination's kind. Each sends the bytes whole or says how many
// the printer took.

#include "print/RawPrinter.h"

#include <string>

namespace vx::print::raw {

RawSendResult sendSocket(const RawDestination& d, const std::string& bytes, const RawTimeouts& t);
RawSendResult sendDevice(const RawDestination& d, const std::string& bytes, const RawTimeouts& t);
RawSendResult sendQueue(const RawDestination& d, const std::string& bytes, const std::string& title,
                        const RawTimeouts& t);

} // namespace vx::print::raw
