#pragma once

#include "journal/Journal.h"

#include <cstdint>
#include <string>

namespace vx::test {

// UTC milliseconds of a time of day on 2026-12-08.
std::int64_t shiftTime(int hour, int minute, int second = 0);

// A station folder after a scripted morning shift (06:00 to 08:00 UTC on
// 2026-12-08): config.ini naming station.db, whose a15 holds VX000001 …
// VX000010, and the journal:
//   05:50 range 20-20 sent (before the shift)
//   06:01 range 1-5 sent for direct printing; 06:02 the job printed 5 labels
//   06:10 … 06:14 scans: 1, 2 good; 3 skipped; 4 (missing range 3-3);
//                        5 good; 5 again (duplicate)
//   06:20 range 6-8 sent for manual printing
//   07:05 … 07:12 scans: 6, 7, 8, 9 good (9 was never sent); a wrong length;
//                        a code not found; a database error; comparison off
//   07:30 range 12-11 sent (reversed: selects nothing)
//   08:00 a good scan of 20 (after the shift)
// The reconciliation of 06:00-08:00: record 3 printed but never verified,
// record 9 verified but never printed, record 5 scanned twice.
void writeScriptedShift(const std::string& folder);

// The text of an HTML page as a reader sees it: tags and the head left
// out, entities of the page's own kept, blanks collapsed.
std::string pageText(const std::string& html);

} // namespace vx::test
