#pragma once

#include "journal/JournalChain.h"
#include "journal/JournalText.h"
#include "journal/ShiftReport.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace vx::journal {

// Record numbers as ranges, low <= high, sorted and apart.
using Ranges = std::vector<std::pair<std::int64_t, std::int64_t>>;

// The ranges, merged where they overlap or touch.
Ranges mergeRanges(Ranges ranges);
// The numbers covered by at least two of the ranges (a record printed twice).
Ranges coveredTwice(const Ranges& ranges);
// The records' numbers as ranges.
Ranges recordRanges(const std::vector<ReportRecord>& records);
// "1-5, 7, 9-12"; "" for none.
std::string rangesText(const Ranges& ranges);
std::int64_t rangesCount(const Ranges& ranges);

// A batch of the report (ShiftReport::batches, same index) as the page
// shows it: what was printed and verified by scanning, as ranges.
struct PageBatch {
    Ranges printed, reprinted, verified, printedNotVerified, verifiedNotPrinted;
    // Records printed by more than one first print (a reprint is meant to
    // print a label again, and is listed with the reprints).
    Ranges printedTwice;
    std::vector<ReportRecord> scannedMoreThanOnce;
    std::int64_t scans = 0;
};

// The shift's batches, one per ShiftReport::batches entry.
std::vector<PageBatch> pageBatches(const ShiftReport& report);

// The station's bytes as text for an HTML page: UTF-8 from the station's
// character set, with & < > " and ' written as entities.
std::string htmlText(std::string_view bytes, const std::string& charset);

// The shift report as one self-contained HTML page (UTF-8, no scripts, no
// links outside it, charts as inline SVG): the journal chain's verification
// at the top, the figures, good scans per hour and the verdicts' shares as
// charts, printed and verified ranges per batch, records printed more than
// once, print jobs that failed with their reason, alarms, pauses and the
// station's other events.
void writeShiftReportHtml(std::ostream& o, const ShiftReport& report, const ReportSource& source,
                          const ChainCheck& chain, const TextStyle& style);

// The page of the shift source.from..source.to from the journal file
// source.journal, its chain verified, with the records of the label
// database when given (source.database names it). The station's own report.
// Raises DbError for a journal that cannot be read.
void writeShiftPage(std::ostream& o, ReportSource source, RecordSide* records,
                    const TextStyle& style);

} // namespace vx::journal
