// The shift report over a scripted shift: counts, hours, pause, print ranges
// and the reconciliation of printed against verified records.

#include "data/Database.h"
#include "data/RecordTable.h"
#include "journal/JournalText.h"
#include "journal/ReportHtml.h"
#include "journal/ShiftReport.h"
#include "journal/StationJournal.h"
#include "tests/support/ScriptedShift.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using namespace vx;
using journal::ReportRecord;
using test::shiftTime;

namespace {

struct Shift {
    Shift() {
        test::writeScriptedShift(dir.path());
        db.openWith(data::openSqliteBackend(dir.file("station.db")));
    }
    journal::ShiftReport report(journal::RecordSide* records) {
        journal::JournalReader journal(dir.file(journal::Journal::kFileName));
        return journal::makeShiftReport(journal, shiftTime(6, 0), shiftTime(8, 0) - 1, records);
    }
    test::TempDir dir;
    data::Connection db;
};

// A label database that cannot be read.
struct BrokenRecords : journal::RecordSide {
    void forEachRecord(const std::function<void(std::int64_t, const std::string&)>& fn) override {
        fn(1, "VX000001");
        throw data::DbError("connection reset by peer");
    }
};

} // namespace

TEST(ShiftReport, ReconcilesTheScriptedShiftAgainstTheLabelDatabase) {
    Shift s;
    journal::A15Records a15(s.db);
    const auto r = s.report(&a15);

    EXPECT_TRUE(r.recordsRead) << r.recordsError;
    EXPECT_EQ(r.printedNotVerified, (std::vector<ReportRecord>{{3, "VX000003", 0}}));
    EXPECT_EQ(r.verifiedNotPrinted, (std::vector<ReportRecord>{{9, "VX000009", 1}}))
        << "20 was sent before the shift, 9 never; a reversed range sends nothing";
    EXPECT_EQ(r.scannedMoreThanOnce, (std::vector<ReportRecord>{{5, "VX000005", 2}}));
    EXPECT_FALSE(r.reconciles());

    EXPECT_EQ(r.scans, 13) << "the scans before and after the shift are not in it";
    EXPECT_EQ(r.scansByVerdict, (std::map<std::string, std::int64_t>{{"comparison-off", 1},
                                                                     {"database-error", 1},
                                                                     {"duplicate", 1},
                                                                     {"good", 7},
                                                                     {"missing-range", 1},
                                                                     {"not-found", 1},
                                                                     {"wrong-length", 1}}));
    using Hours = std::vector<std::pair<std::int64_t, std::int64_t>>;
    EXPECT_EQ(r.goodPerHour, (Hours{{shiftTime(6, 0), 4}, {shiftTime(7, 0), 4}}));
    ASSERT_TRUE(r.longestPause);
    EXPECT_EQ(*r.longestPause, std::make_pair(shiftTime(6, 14), shiftTime(7, 5)));

    ASSERT_EQ(r.prints.size(), 4u);
    EXPECT_EQ(r.prints[0].what, "dispatched");
    EXPECT_EQ(r.prints[1].what, "printed");
    EXPECT_EQ(r.prints[1].labels, 5);
    EXPECT_EQ(r.prints[2].backend, "manual");
    EXPECT_EQ(r.prints[3].low, 12);
    ASSERT_EQ(r.stationEvents.size(), 1u);
    EXPECT_EQ(r.stationEvents[0].kind, "port");
    EXPECT_EQ(r.events, 18);
}

TEST(ShiftReport, WithoutTheLabelDatabasePrintedRecordsAreNamedByNumberAndCodesAsScanned) {
    Shift s;
    const auto alone = s.report(nullptr);
    EXPECT_FALSE(alone.recordsRead);
    EXPECT_EQ(alone.printedNotVerified, (std::vector<ReportRecord>{{3, "", 0}}));
    EXPECT_EQ(alone.verifiedNotPrinted, (std::vector<ReportRecord>{{9, "VX000009", 1}}));
    EXPECT_EQ(alone.scannedMoreThanOnce, (std::vector<ReportRecord>{{5, "VX000005", 2}}));

    BrokenRecords broken;
    const auto failed = s.report(&broken);
    EXPECT_FALSE(failed.recordsRead);
    EXPECT_EQ(failed.recordsError, "connection reset by peer");
    EXPECT_EQ(failed.printedNotVerified, (std::vector<ReportRecord>{{3, "", 0}}))
        << "nothing half read from the broken database";
}

TEST(ShiftReport, ARecordNoLongerInTheLabelDatabaseKeepsTheCodeItWasScannedWith) {
    Shift s;
    data::Query q(s.db);
    q.setText("DELETE FROM a15 WHERE bh IN (3, 5)");
    q.execute();
    journal::A15Records a15(s.db);
    const auto r = s.report(&a15);
    EXPECT_EQ(r.scannedMoreThanOnce, (std::vector<ReportRecord>{{5, "VX000005", 2}}));
    EXPECT_TRUE(r.printedNotVerified.empty()) << "a record gone from the table is not listed";
}

TEST(ShiftReport, AShiftWithNothingInItReconciles) {
    Shift s;
    journal::JournalReader journal(s.dir.file(journal::Journal::kFileName));
    journal::A15Records a15(s.db);
    const auto r = journal::makeShiftReport(journal, shiftTime(4, 0), shiftTime(5, 0), &a15);
    EXPECT_TRUE(r.reconciles());
    EXPECT_EQ(r.scans, 0);
    EXPECT_FALSE(r.longestPause);
    EXPECT_TRUE(r.goodPerHour.empty());
}

// ---- print jobs and what became of them -------------------------------------

namespace {

// A journal of jobs, each its dispatch and (maybe) its outcome, and scans;
// records 1 … 12 in the label database.
struct Jobs {
    Jobs() {
        test::writeScriptedShift(dir.path()); // for its station.db, records 1 … 10
        std::filesystem::remove(dir.file(journal::Journal::kFileName));
        db.openWith(data::openSqliteBackend(dir.file("station.db")));
        data::Query q(db);
        for (int i = 11; i <= 12; ++i) {
            q.setText(data::RecordTable::insertText(data::Dialect::Sqlite, "a15"));
            q.setParam("a", "VX0000" + std::to_string(i));
            q.execute();
        }
        journal::Journal j(dir.file(journal::Journal::kFileName));
        std::int64_t t = shiftTime(6, 0);
        auto put = [&](journal::JournalEvent e) {
            e.time = t += 1000;
            ASSERT_TRUE(j.append(e));
        };
        auto print = [&](const char* what, int lo, int hi, const char* backend,
                         std::optional<std::int64_t> labels = {}, const std::string& msg = {}) {
            journal::JournalEvent e;
            e.kind = "print";
            e.what = what;
            e.low = lo;
            e.high = hi;
            e.backend = backend;
            e.labels = labels;
            e.message = msg;
            return e;
        };
        auto scan = [&](const char* verdict, int record) {
            journal::JournalEvent e;
            e.kind = "scan";
            e.what = verdict;
            e.record = record;
            e.code = "VX0000" + std::string(record < 10 ? "0" : "") + std::to_string(record);
            return e;
        };
        put(print("dispatched", 1, 3, "direct"));
        put(print("printed", 1, 3, "gLabels", 3));
        put(print("dispatched", 4, 6, "direct"));
        // The printer took one label, record 4, then the job failed.
        journal::JournalEvent partly = print("failed", 4, 6, "ZPL", 1, "the line was closed");
        partly.record = 4;
        put(partly);
        put(print("dispatched", 7, 8, "direct"));
        put(print("queued", 7, 8, "gLabels", 2, "the print queue \"Held\" is disabled"));
        put(print("dispatched", 9, 10, "direct")); // the station ended during the job
        put(print("dispatched", 11, 12, "manual"));
        for (int r : {1, 2, 4, 5, 7, 9, 11})
            put(scan("good", r));
        put(scan("duplicate", 3)); // marked by another station: never verified here
    }
    journal::ShiftReport report(bool withRecords, int parts = 0) {
        journal::JournalReader journal(dir.file(journal::Journal::kFileName));
        journal::A15Records a15(db);
        journal::ReportOptions o;
        o.parts = parts;
        return journal::makeShiftReport(journal, shiftTime(6, 0), shiftTime(8, 0) - 1,
                                        withRecords ? &a15 : nullptr, o);
    }
    std::vector<std::int64_t> numbers(const std::vector<ReportRecord>& list) {
        std::vector<std::int64_t> out;
        for (const auto& r : list)
            out.push_back(r.record);
        return out;
    }
    test::TempDir dir;
    data::Connection db;
};

} // namespace

// Only what a job's outcome says was printed counts as printed: a failed
// job's records after the last label the printer took, a job held in a
// disabled queue and a job without an outcome are not; records in them
// that were verified good are named; a record scanned only as a duplicate
// was never verified here.
TEST(ShiftReportJobs, OnlyWhatTheOutcomesSayWasPrintedCountsAsPrinted) {
    Jobs s;
    for (bool withRecords : {true, false}) {
        SCOPED_TRACE(withRecords ? "with the label database" : "from the journal alone");
        const auto r = s.report(withRecords);
        EXPECT_EQ(s.numbers(r.printedNotVerified), (std::vector<std::int64_t>{3, 12}));
        EXPECT_EQ(s.numbers(r.verifiedNotPrinted), (std::vector<std::int64_t>{5, 7, 9}));
    }
    const auto r = s.report(true);
    EXPECT_FALSE(r.reconciles());
    auto ranges = [](const std::vector<journal::ReportJob>& jobs) {
        std::string out;
        for (const auto& j : jobs)
            out += (out.empty() ? "" : " ") + std::to_string(j.low) + "-" + std::to_string(j.high) +
                   ":" + (j.outcome.empty() ? j.mode : j.outcome);
        return out;
    };
    EXPECT_EQ(ranges(r.printedJobs), "1-3:printed 11-12:manual");
    EXPECT_EQ(ranges(r.notPrintedJobs), "4-6:failed 7-8:queued");
    EXPECT_EQ(ranges(r.unfinishedJobs), "9-10:direct");
    ASSERT_EQ(r.notPrintedJobs.size(), 2u);
    EXPECT_EQ(r.notPrintedJobs[0].lastPrinted, 4);
    EXPECT_EQ(r.notPrintedJobs[0].reason, "the line was closed");
    EXPECT_EQ(r.notPrintedJobs[1].reason, "the print queue \"Held\" is disabled");

    std::ostringstream text;
    journal::writePrintJobSets(text, r, journal::TextStyle{true, "UTF-8"});
    EXPECT_EQ(
        text.str(),
        "\n"
        "Printed: 2\n"
        "  2026-12-08 06:00:01.000  1-3           printed  3 labels  gLabels\n"
        "  2026-12-08 06:00:08.000  11-12         handed to the operator to print by hand\n"
        "\n"
        "Dispatched, not printed: 2\n"
        "  2026-12-08 06:00:03.000  4-6           failed   1 label (4-4 printed, 5-6 not)  ZPL  "
        "the line was closed\n"
        "  2026-12-08 06:00:05.000  7-8           queued   2 labels  gLabels  the print queue "
        "\"Held\" is disabled\n"
        "\n"
        "Dispatched, no outcome (the station ended during the job, or it still "
        "runs): 1\n"
        "  2026-12-08 06:00:07.000  9-10          no outcome\n");
}

// An outcome written after the end of the shift still tells what became of
// a job handed on in it; one that came in the shift for a range handed on
// before it stands for a job of its own.
TEST(ShiftReportJobs, AJobIsMatchedWithAnOutcomeThatCameAfterTheShift) {
    Jobs s;
    {
        journal::Journal j(s.dir.file(journal::Journal::kFileName));
        journal::JournalEvent e;
        e.kind = "print";
        e.what = "printed";
        e.low = 9;
        e.high = 10;
        e.labels = 2;
        e.time = shiftTime(8, 30);
        ASSERT_TRUE(j.append(e));
    }
    const auto r = s.report(true);
    EXPECT_TRUE(r.unfinishedJobs.empty());
    ASSERT_EQ(r.printedJobs.size(), 3u);
    EXPECT_EQ(r.printedJobs[1].low, 9);
    EXPECT_EQ(r.printedJobs[1].labels, 2);
    EXPECT_EQ(s.numbers(r.verifiedNotPrinted), (std::vector<std::int64_t>{5, 7}));

    journal::JournalReader journal(s.dir.file(journal::Journal::kFileName));
    const auto late = journal::makeShiftReport(journal, shiftTime(8, 0), shiftTime(9, 0), nullptr);
    ASSERT_EQ(late.printedJobs.size(), 1u);
    EXPECT_EQ(late.printedJobs[0].mode, "") << "its dispatch was before";
    EXPECT_EQ(late.printedJobs[0].time, shiftTime(8, 30));
}

// A job the operator cancelled is dispatched, not printed, but for the part
// its printer took; one cancelled before it started printed nothing. Neither
// is a job without an outcome, and a job's start row is no outcome.
TEST(ShiftReportJobs, ACancelledJobIsNotPrintedBeyondThePartItsPrinterTook) {
    Jobs s;
    {
        journal::Journal j(s.dir.file(journal::Journal::kFileName));
        std::int64_t t = shiftTime(7, 0);
        auto put = [&](const char* what, int lo, int hi, std::optional<std::int64_t> labels,
                       std::optional<std::int64_t> record, const std::string& message) {
            journal::JournalEvent e;
            e.time = t += 1000;
            e.kind = "print";
            e.what = what;
            e.low = lo;
            e.high = hi;
            e.backend = std::string(what) == "dispatched" ? "direct" : "ZPL";
            e.labels = labels;
            e.record = record;
            e.message = message;
            ASSERT_TRUE(j.append(e));
        };
        // 9-10 was handed on in the shift: it starts, one label is taken.
        put("printing", 9, 10, {}, {}, "2 label(s) to print");
        put("cancelled", 9, 10, 1, 9, "cancelled by the operator while sending");
        put("dispatched", 13, 14, {}, {}, "");
        put("cancelled", 13, 14, 0, {}, "cancelled by the operator before it started");
    }
    const auto r = s.report(true);
    EXPECT_TRUE(r.unfinishedJobs.empty()) << r.unfinishedJobs.size() << " without an outcome";
    ASSERT_EQ(r.notPrintedJobs.size(), 4u);
    EXPECT_EQ(r.notPrintedJobs[2].low, 9);
    EXPECT_EQ(r.notPrintedJobs[2].outcome, "cancelled");
    EXPECT_EQ(r.notPrintedJobs[2].lastPrinted, 9);
    EXPECT_EQ(r.notPrintedJobs[3].low, 13);
    EXPECT_FALSE(r.notPrintedJobs[3].lastPrinted);
    EXPECT_EQ(s.numbers(r.verifiedNotPrinted), (std::vector<std::int64_t>{5, 7}))
        << "record 9 was printed before the cancel";

    std::ostringstream text;
    journal::writePrintJobSets(text, r, journal::TextStyle{true, "UTF-8"});
    EXPECT_NE(
        text.str().find("  2026-12-08 06:00:07.000  9-10          cancelled 1 label (9-9 "
                        "printed, 10-10 not)  ZPL  cancelled by the operator while sending\n"),
        std::string::npos)
        << text.str();
}

// The journal read in one part or in several gives the same report: no row
// is read twice or left out where the parts meet.
TEST(ShiftReportJobs, OnePartOrSeveralGiveTheSameReport) {
    Jobs s;
    auto summary = [&](int parts) {
        const auto r = s.report(true, parts);
        std::string out = std::to_string(r.events) + " events " + std::to_string(r.scans) +
                          " scans " + std::to_string(r.prints.size()) + " prints;";
        for (const auto& [verdict, n] : r.scansByVerdict)
            out += " " + verdict + "=" + std::to_string(n);
        for (const auto* list :
             {&r.printedNotVerified, &r.verifiedNotPrinted, &r.scannedMoreThanOnce}) {
            out += ";";
            for (const auto& rec : *list)
                out += " " + std::to_string(rec.record) + "x" + std::to_string(rec.times);
        }
        for (const auto& [hour, n] : r.goodPerHour)
            out += "; " + std::to_string(hour) + "=" + std::to_string(n);
        return out;
    };
    const std::string one = summary(1);
    EXPECT_EQ(one.substr(0, 28), "16 events 8 scans 8 prints; ") << one;
    for (int parts : {2, 3, 7, 40})
        EXPECT_EQ(summary(parts), one) << parts << " parts";
}

// ---- batches and reprints ---------------------------------------------------

namespace {

// A journal of imports, jobs and scans written row by row; the label
// database of the scripted shift (VX000001 … VX000010) is a15 as the last
// import left it.
struct Rows {
    Rows() {
        test::writeScriptedShift(dir.path());
        std::filesystem::remove(dir.file(journal::Journal::kFileName));
        db.openWith(data::openSqliteBackend(dir.file("station.db")));
    }
    void put(journal::JournalEvent e) {
        e.time = t += 60'000;
        ASSERT_TRUE(j.append(e));
    }
    // The row as the station writes it, at the journal's clock.
    void import(const std::string& file, int records, const std::string& table = "a15") {
        t += 60'000;
        journal::StationJournal(j).imported(table, file, records, 0);
    }
    void print(const char* kind, const char* what, int lo, int hi, const char* backend,
               const std::string& message = {}) {
        journal::JournalEvent e;
        e.kind = kind;
        e.what = what;
        e.low = lo;
        e.high = hi;
        e.backend = backend;
        e.message = message;
        if (std::string(what) == "printed")
            e.labels = hi - lo + 1;
        put(e);
    }
    void scan(const char* verdict, int record) {
        journal::JournalEvent e;
        e.kind = "scan";
        e.what = verdict;
        e.record = record;
        e.code = "VX00000" + std::to_string(record);
        put(e);
    }
    journal::ShiftReport report() {
        journal::JournalReader reader(dir.file(journal::Journal::kFileName));
        journal::A15Records a15(db);
        return journal::makeShiftReport(reader, shiftTime(6, 0), shiftTime(8, 0) - 1, &a15);
    }
    test::TempDir dir;
    data::Connection db;
    std::int64_t t = shiftTime(5, 0);
    journal::Journal j{dir.file(journal::Journal::kFileName), [this] { return t; }};
};

std::string text(const journal::ShiftReport& r) {
    std::ostringstream o;
    journal::writeShiftReport(o, r, {}, journal::TextStyle{true, "UTF-8"});
    return o.str();
}

// The report's page, as its reader sees the text.
std::string page(const journal::ShiftReport& r) {
    std::ostringstream o;
    journal::writeShiftReportHtml(o, r, {}, {}, journal::TextStyle{true, "UTF-8"});
    return test::pageText(o.str());
}

} // namespace

// An import into a15 begins a new batch of labels: record 2 of one batch
// and record 2 of the next are different labels. Each batch keeps its
// printed and verified records apart, as ranges; the batch the shift began
// in is the last import before it. An import into a14 begins none.
TEST(ShiftReportBatches, AnImportBeginsABatchAndTheReportKeepsBatchesApart) {
    Rows s;
    s.t = shiftTime(4, 0);
    s.import("/labels/sunday.txt", 7); // 04:01: a batch before the one the shift began in
    s.t = shiftTime(5, 0);
    s.import("/labels/monday.txt", 4); // 05:01, before the shift
    s.t = shiftTime(6, 0);
    s.print("print", "dispatched", 1, 3, "direct");
    s.print("print", "printed", 1, 3, "ZPL");
    s.scan("good", 1);
    s.scan("good", 2);
    s.import("/labels/staging.txt", 9, "a14"); // no new batch
    s.import("/labels/tuesday.txt", 10);
    s.print("print", "dispatched", 1, 2, "direct");
    s.print("print", "printed", 1, 2, "ZPL");
    s.scan("good", 2);
    s.scan("good", 4); // printed in monday's batch only
    const auto r = s.report();

    ASSERT_EQ(r.batches.size(), 2u);
    EXPECT_EQ(r.batches[0].source, "/labels/monday.txt");
    EXPECT_EQ(r.batches[0].imported, shiftTime(5, 1));
    EXPECT_EQ(r.batches[0].records, 4);
    EXPECT_EQ(r.batches[0].printed, (journal::RecordRanges{{1, 3}}));
    EXPECT_EQ(r.batches[0].verified, (journal::RecordRanges{{1, 2}}));
    EXPECT_EQ(r.batches[1].source, "/labels/tuesday.txt");
    EXPECT_EQ(r.batches[1].printed, (journal::RecordRanges{{1, 2}}));
    EXPECT_EQ(r.batches[1].verified, (journal::RecordRanges{{2, 2}, {4, 4}}));
    EXPECT_EQ(r.batches[1].scans, 2);

    EXPECT_TRUE(r.scannedMoreThanOnce.empty()) << "record 2 of each batch was scanned once";
    EXPECT_EQ(r.printedNotVerified,
              (std::vector<ReportRecord>{{3, "", 0, 0}, {1, "VX000001", 0, 1}}))
        << "the label database holds the latest batch only";
    EXPECT_EQ(r.verifiedNotPrinted, (std::vector<ReportRecord>{{4, "VX000004", 1, 1}}));
    EXPECT_EQ(r.printedJobs.size(), 2u);
    EXPECT_EQ(r.printedJobs[1].batch, 1u);

    const std::string report = text(r);
    for (const char* line :
         {"Batches (each import into a15 begins one): 2\n",
          "  batch 1: imported 2026-12-08 05:01:00.000 from /labels/monday.txt, 4 records\n"
          "    printed:    1-3\n"
          "    verified:   1-2\n",
          "    verified:   2, 4\n", "  batch 1   record 3"})
        EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
    // The page: a row per batch, each with its own printed and verified
    // ranges and what did not reconcile.
    const std::string html = page(r);
    for (const char* row :
         {" 1 /labels/monday.txt (imported 2026-12-08 05:01:00) 4 records 1-3 (3) none 1-2 (2) 3 "
          "(1) none none ",
          " 2 /labels/tuesday.txt (imported 2026-12-08 06:06:00) 10 records 1-2 (2) none 2, 4 (2) "
          "1 "
          "(1) 4 (1) none "})
        EXPECT_NE(html.find(row), std::string::npos) << row << "\n" << html;

    // a15 imported again after the shift: its records are no longer the
    // shift's last batch.
    s.t = shiftTime(9, 0);
    s.import("/labels/wednesday.txt", 10);
    const auto later = s.report();
    EXPECT_FALSE(later.recordsRead);
    EXPECT_EQ(later.printedNotVerified, (std::vector<ReportRecord>{{3, "", 0, 0}, {1, "", 0, 1}}));
    EXPECT_EQ(later.verifiedNotPrinted, (std::vector<ReportRecord>{{4, "VX000004", 1, 1}}))
        << "the code as it was scanned";
}

// A reprint counts as a print of its labels: a reprinted label verified
// once is verified, and the report lists the reprints by reason with what
// became of each. An outcome is never taken for a job of the other kind.
TEST(ShiftReportBatches, AReprintedLabelVerifiedOnceIsVerifiedAndReprintsAreListedByReason) {
    Rows s;
    s.t = shiftTime(6, 0);
    s.print("print", "dispatched", 1, 4, "direct");
    s.print("print", "printed", 1, 4, "ZPL");
    s.print("reprint", "dispatched", 2, 3, "direct", "damaged");
    s.print("print", "dispatched", 5, 6, "direct"); // the station ends during it
    s.print("reprint", "printed", 2, 3, "ZPL");
    s.print("reprint", "dispatched", 4, 4, "manual", "test");
    s.print("reprint", "dispatched", 1, 1, "direct", "missing");
    journal::JournalEvent failed;
    failed.kind = "reprint";
    failed.what = "failed";
    failed.low = failed.high = 1;
    failed.labels = 0;
    failed.backend = "ZPL";
    failed.message = "the line was closed";
    s.put(failed);
    for (int record : {1, 2, 3, 4})
        s.scan("good", record);
    const auto r = s.report();

    EXPECT_TRUE(r.printedNotVerified.empty());
    EXPECT_TRUE(r.scannedMoreThanOnce.empty());
    EXPECT_TRUE(r.verifiedNotPrinted.empty());
    using Counts = std::map<std::string, journal::ReprintCount>;
    EXPECT_EQ(r.reprintsByReason,
              (Counts{{"damaged", {1, 2}}, {"missing", {1, 1}}, {"test", {1, 1}}}));
    ASSERT_EQ(r.reprints.size(), 3u);
    EXPECT_EQ(r.reprints[0].outcome, "printed");
    EXPECT_EQ(r.reprints[1].mode, "manual");
    EXPECT_EQ(r.reprints[2].outcome, "failed");
    EXPECT_EQ(r.reprints[2].reason, "the line was closed");
    ASSERT_EQ(r.unfinishedJobs.size(), 1u) << "the reprint's outcome is not 5-6's";
    EXPECT_EQ(r.unfinishedJobs[0].low, 5);
    ASSERT_EQ(r.batches.size(), 1u);
    EXPECT_EQ(r.batches[0].printed, (journal::RecordRanges{{1, 4}}));
    EXPECT_EQ(r.batches[0].reprinted, (journal::RecordRanges{{2, 4}}));

    const std::string report = text(r);
    for (const char* line :
         {"Reprints: 3\n  damaged   1 reprint(s), 2 label(s)\n  missing   1 reprint(s), 1 "
          "label(s)\n  test      1 reprint(s), 1 label(s)\n",
          "  2026-12-08 06:07:00.000  1-1           reprint (missing)  failed   0 labels  ZPL  "
          "the line was closed\n",
          "    reprinted:  2-4\n"})
        EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
    const std::string html = page(r);
    for (const char* part :
         {"补打 Reprints Reason Reprints Labels 损坏 damaged 1 2 缺失 missing 1 1 测试 test 1 1 ",
          " 06:07:00 1-1 缺失 missing failed 0 ", " 1-4 (4) 2-4 (3) 1-4 (4) ",
          "No record was printed more than once."})
        EXPECT_NE(html.find(part), std::string::npos) << part << "\n" << html;
}

// The page's chain box is green only when every row was verified from the
// chain's start: rows from before the chain, or a chain that continues a
// file not checked with it, leave it amber, saying why; a fault makes it
// red.
TEST(ShiftReportPage, TheChainBoxIsGreenOnlyWhenEveryRowWasVerifiedFromTheStart) {
    // "class:text" of the page's chain box.
    const auto box = [](const journal::ChainCheck& c) {
        std::ostringstream o;
        journal::writeShiftReportHtml(o, journal::ShiftReport{}, {}, c,
                                      journal::TextStyle{true, "UTF-8"});
        const std::string html = o.str();
        const std::string open = "<div class=\"chain ";
        const std::size_t at = html.find(open);
        if (at == std::string::npos)
            return std::string();
        const std::size_t name = at + open.size();
        const std::string cls = html.substr(name, html.find('"', name) - name);
        return cls + ":" + test::pageText(html.substr(at, html.find("</div>", at) - at));
    };
    journal::ChainCheck whole;
    whole.chained = 5;
    whole.files.push_back({"j.db", 5, std::string(64, '0'), "", "ab"});
    EXPECT_EQ(box(whole).rfind("intact:", 0), 0u) << box(whole);

    journal::ChainCheck old = whole;
    old.unchained = 2;
    EXPECT_EQ(box(old).rfind("partial:", 0), 0u) << box(old);
    EXPECT_NE(box(old).find("2 rows were written before the journal kept a chain"),
              std::string::npos);

    journal::ChainCheck continued = whole;
    continued.files[0].continues = "the journal /s/vexora-journal.db replaced";
    EXPECT_EQ(box(continued).rfind("partial:", 0), 0u) << box(continued);
    EXPECT_NE(box(continued).find("continues the journal /s/vexora-journal.db replaced, which was "
                                  "not checked with it"),
              std::string::npos)
        << box(continued);

    journal::ChainCheck broken = whole;
    broken.fault = journal::ChainCheck::Fault::Changed;
    broken.message = "row 3 was changed";
    EXPECT_EQ(box(broken).rfind("broken:", 0), 0u) << box(broken);
}
