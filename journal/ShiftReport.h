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
    bool operator==(const ReportRecord&) const = default;
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
    std::vector<journal::JournalRow> prints;        // dispatches and job outcomes
    std::vector<journal::JournalRow> stationEvents; // port, database, settings, journal
    // Reconciliation of the print ranges sent in the shift with its scans:
    // records of the label database inside a printed range that no scan
    // verified; records verified that lie in no printed range; labels that
    // were scanned more than once (any verdict that found the record).
    std::vector<ReportRecord> printedNotVerified, verifiedNotPrinted, scannedMoreThanOnce;
    bool recordsRead = false; // the label database could be read
    std::string recordsError;

    bool reconciles() const {
        return printedNotVerified.empty() && verifiedNotPrinted.empty() &&
               scannedMoreThanOnce.empty();
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
    // Threads that read the journal side by side, each a part of it.
    int threads = 2;
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
