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

// A batch of the report (ShiftReport::batches, same index) as the page
// shows it: what was printed and verified by scanning, as ranges.
struct PageBatch {
    RecordRanges printed, reprinted, verified, printedNotVerified, verifiedNotPrinted;
    // Records printed by more than one first print (a reprint is meant to
    // print a label again, and is listed with the reprints).
    RecordRanges printedTwice;
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
