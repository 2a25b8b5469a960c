#pragma once

#include "journal/JournalReader.h"
#include "journal/ShiftReport.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace vx::journal {

// How the journal's lists, exports and reports write times and texts.
struct TextStyle {
    bool utc = false; // times in UTC, else in local time
    // The character set of the station's texts, which are written as UTF-8
    // (data::stationCharset() for the station's own).
    std::string charset = "UTF-8";
};

// A time as a supervisor types it: "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.mmm]]"
// (or a T before the hour) in local time, or in UTC when utc is set or the
// text ends in Z; "@MS", milliseconds since 1970 UTC; "now". UTC
// milliseconds, or nothing for any other text.
std::optional<std::int64_t> parseTime(const std::string& text, bool utc);
// "YYYY-MM-DD HH:MM:SS.mmm" (without ".mmm" unless withMs).
std::string formatTime(std::int64_t ms, bool utc, bool withMs = true);
// "HH:MM:SS.mmm", the hours running past 24.
std::string formatDuration(std::int64_t ms);
// The start of the local (or UTC) hour that ms falls in.
std::int64_t hourStart(std::int64_t ms, bool utc);

// The station's bytes as UTF-8: converted from charset (an unknown one is
// taken as UTF-8); a byte that is no text there is written as \xNN.
std::string toUtf8(std::string_view bytes, const std::string& charset);

// The journal's events as a table for reading, or as CSV (a header, then a
// row an event, CR LF) for a spreadsheet.
enum class EventFormat { Table, Csv };
// Writes the rows of the journal that pass filter, by time, with the
// format's header; progress hears the rows written so far every 1,000,000
// rows read. Returns the rows written; stops early when o fails.
std::int64_t writeEvents(std::ostream& o, JournalReader& journal, const JournalFilter& filter,
                         EventFormat format, const TextStyle& style,
                         const std::function<void(std::int64_t)>& progress = {});

// Where a shift report's figures came from, for its heading.
struct ReportSource {
    std::optional<std::int64_t> from, to; // as asked for, both inclusive; none: open
    std::string journal;                  // the journal file's path
    std::string database;                 // the label database config.ini names; "": none
    std::string databaseError;            // why it could not be read; "": it was
};

// The shift report as text: heading, scans by verdict, good scans per hour,
// the longest pause, the print ranges sent, the station's other events, the
// print jobs in their three sets, the reprints, the batches, and the records
// of the reconciliation (with their batch where there are several).
void writeShiftReport(std::ostream& o, const ShiftReport& report, const ReportSource& source,
                      const TextStyle& style);

// The shift's print jobs in their three sets (printed, dispatched but not
// printed, dispatched without an outcome), each under its title with its
// count.
void writePrintJobSets(std::ostream& o, const ShiftReport& report, const TextStyle& style);

// The shift's reprints: how many of each reason, then each reprint as a
// job.
void writeReprints(std::ostream& o, const ShiftReport& report, const TextStyle& style);

// The batches of labels, each with its import and, as ranges, the records
// printed, reprinted and verified good in the shift.
void writeBatches(std::ostream& o, const ShiftReport& report, const TextStyle& style);

} // namespace vx::journal
