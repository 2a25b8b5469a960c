#pragma once

#include "data/Journal.h"
#include "scan/ScanEngine.h"

#include <optional>
#include <string_view>

namespace vx::scan {

// The names a scan's verdict has in the journal (its column what).
namespace JournalVerdict {
inline constexpr const char* Good = "good";
inline constexpr const char* MissingRange = "missing-range";
inline constexpr const char* Duplicate = "duplicate";
inline constexpr const char* IgnoredRepeat = "ignored-repeat";
inline constexpr const char* WrongLength = "wrong-length";
inline constexpr const char* NotFound = "not-found";
inline constexpr const char* DatabaseError = "database-error";
inline constexpr const char* ComparisonOff = "comparison-off";
inline constexpr const char* NoDatabase = "no-database";
} // namespace JournalVerdict

inline constexpr const char* kScanKind = data::JournalWords::Scan;

const char* journalVerdict(Verdict v);
// Verdicts that leave the record marked as scanned: the label was verified.
bool verifiedGood(std::string_view what);

// The journal row of one scan: when it came, the bytes as received, the code
// field, the verdict with its details and the record it found.
data::JournalEvent scanEvent(const ScanOutcome& out);

} // namespace vx::scan
