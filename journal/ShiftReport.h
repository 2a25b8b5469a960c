#pragma once

#include "data/Database.h"
#include "journal/JournalReader.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vx::journal {

// A record named by the reconciliation: its number, its code text (from the
// label database, or as scanned where the database has none) and how often
// it was scanned.
struct ReportRecord {
    std::int64_t record = 0;
    std::string code;
    std::int64_t times = 0;
    // The batch of labels it belongs to: an index into ShiftReport::batches.
    std::size_t batch = 0;
    bool operator==(const ReportRecord&) const = default;
};

// Record numbers as sorted, disjoint, non-adjacent ranges, both bounds
// inclusive: 1-3, 5-5, 7-9.
using RecordRanges = std::vector<std::pair<std::int64_t, std::int64_t>>;

// The ranges, merged where they overlap or touch; a reversed one is left
// out.
RecordRanges mergeRanges(RecordRanges ranges);
// The numbers covered by at least two of the ranges (a record printed twice).
RecordRanges coveredTwice(const RecordRanges& ranges);
// The records' numbers as ranges.
RecordRanges recordRanges(const std::vector<ReportRecord>& records);
// "1-5, 7, 9-12"; "" for none.
std::string rangesText(const RecordRanges& ranges);
std::int64_t rangesCount(const RecordRanges& ranges);

// A batch of labels: the records one import into a15 made, from its row in
// the journal to the next such import. Record 2 of one batch and record 2 of
// the next are different labels, and are never counted together.
struct ReportBatch {
    std::int64_t imported = 0; // the time of its import; 0: imported before the journal's rows
    std::string source;        // the file (or table) imported; empty: not known
    std::optional<std::int64_t> records; // the records the import made; empty: not known
    // In the shift: records printed (by the outcomes, as for the three job
    // sets, reprints included), the reprinted ones among them, and records
    // verified good.
    RecordRanges printed, reprinted, verified;
    std::int64_t scans = 0; // scans in the shift that found a record of the batch
    bool operator==(const ReportBatch&) const = default;
};

// The reprints of one reason: how many were handed on and the labels they
// asked for.
struct ReprintCount {
    std::int64_t reprints = 0, labels = 0;
    bool operator==(const ReprintCount&) const = default;
};

// A print job as the report sees it: a range handed on and what became of
// it, from its dispatch row and its outcome row.
struct ReportJob {
    std::int64_t time = 0;          // of the dispatch; of the outcome where no dispatch was seen
    std::int64_t low = 0, high = 0; // the range, low <= high
    std::string mode;               // "direct", "manual"; empty where no dispatch was seen
    std::string outcome;            // "printed", "failed", "cancelled", "queued"; empty: none came
    std::string backend;            // the outcome's back end
    std::optional<std::int64_t> labels; // labels the printer took; empty: not known
    std::string reason;                 // the outcome's message
    // A failed job whose printer took its first labels: the last record of
    // that part (the part low..lastPrinted was printed).
    std::optional<std::int64_t> lastPrinted;
    // A reprint: its reason ("damaged", "missing", "test"; "unknown" where
    // it was handed on before the shift); empty for a first print.
    std::string reprint;
    // The batch it printed from: an index into ShiftReport::batches.
    std::size_t batch = 0;
};

// What a supervisor needs to know about a shift, from the journal and the
// label database.
struct ShiftReport {
    std::int64_t from = 0, to = 0; // UTC ms, both inclusive
    std::int64_t events = 0;       // journal rows in the range
    std::int64_t scans = 0;
    std::map<std::string, std::int64_t> scansByVerdict;
    // Scans that verified their label (good and missing range), by the hour
    // they fell in: the hour's start (UTC ms) and the count.
    std::vector<std::pair<std::int64_t, std::int64_t>> goodPerHour;
    // The longest time between two consecutive scans: its start and end.
    std::optional<std::pair<std::int64_t, std::int64_t>> longestPause;
    std::vector<journal::JournalRow> prints; // dispatches and job outcomes, reprints' too
    // port, database, settings, journal, and the changes of the labels (data)
    std::vector<journal::JournalRow> stationEvents;
    // The ranges handed on in the shift, in three sets kept apart: printed
    // (the job's outcome says so, or the range was handed to the operator to
    // print by hand); dispatched but not printed (the job failed or was
    // cancelled, with the part its printer took, or a queue holds it); and
    // dispatched without an
    // outcome (the station ended during the job, or the job still runs). A
    // reversed range selects nothing and is in none of them. Reprints are
    // jobs like any other here.
    std::vector<ReportJob> printedJobs, notPrintedJobs, unfinishedJobs;
    // The shift's reprints (also in the sets above), in the order they were
    // handed on, and how many of each reason.
    std::vector<ReportJob> reprints;
    std::map<std::string, ReprintCount> reprintsByReason;
    // The batches the shift's rows fall in, oldest first: the one the shift
    // began in, then one per import into a15 in the shift. Never empty; the
    // first may hold nothing of the shift.
    std::vector<ReportBatch> batches;
    // Reconciliation of what was printed in the shift with its scans, batch
    // by batch, ordered by batch and record: records of the label database
    // that were printed and that no scan verified good (a reprinted label
    // verified once is verified); records verified good that were never
    // printed (by the outcomes above); labels that were scanned more than
    // once (any verdict that found the record). The label database holds
    // the records of the latest batch only: those of earlier batches are
    // named by number, with the code they were scanned with where they were.
    std::vector<ReportRecord> printedNotVerified, verifiedNotPrinted, scannedMoreThanOnce;
    bool recordsRead = false; // the label database could be read
    std::string recordsError;

    bool reconciles() const {
        return printedNotVerified.empty() && verifiedNotPrinted.empty() &&
               scannedMoreThanOnce.empty() && notPrintedJobs.empty() && unfinishedJobs.empty();
    }
};

// The record side of the reconciliation: the label database's records.
class RecordSide {
public:
    virtual ~RecordSide() = default;
    // Every record with its code text. Raises DbError.
    virtual void forEachRecord(const std::function<void(std::int64_t, const std::string&)>& fn) = 0;
};

// The records of a15 on an open connection.
class A15Records : public RecordSide {
public:
    explicit A15Records(data::Connection& db) : m_db(db) {}
    void forEachRecord(const std::function<void(std::int64_t, const std::string&)>& fn) override;

private:
    data::Connection& m_db;
};

struct ReportOptions {
    // Start of the hour that t falls in (UTC ms); the report counts good
    // scans per such hour. The default counts by UTC hours.
    std::function<std::int64_t(std::int64_t)> hourStart;
    // Threads that read a journal of more than 200,000 rows side by side,
    // each a part of it.
    int threads = 2;
    // The parts the journal is read in, when set (> 0): whatever its size.
    int parts = 0;
    // Told of long work: what is going on, done so far and the total.
    std::function<void(const std::string&, std::int64_t, std::int64_t)> progress;
};

// Reads the journal rows from..to in the order they were written, then the
// records (when given; a failure to read them leaves recordsRead false and
// the reconciliation made from the journal alone). Raises DbError for a
// journal that cannot be read.
ShiftReport makeShiftReport(journal::JournalReader& journal, std::int64_t from, std::int64_t to,
                            RecordSide* records, const ReportOptions& options = {});

} // namespace vx::journal
