#pragma once

#include "journal/Journal.h"
#include "scan/ScanEngine.h"

#include <optional>
#include <string_view>

namespace vx::scan {

const char* journalVerdict(Verdict v);

// The journal row of one scan: when it came, the bytes as received, the code
// field, the verdict with its details and the record it found.
journal::JournalEvent scanEvent(const ScanOutcome& out);

} // namespace vx::scan
