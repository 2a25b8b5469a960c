// The shift report over a scripted shift: counts, hours, pause, print ranges
// and the reconciliation of printed against verified records.

#include "data/Database.h"
#include "journal/ShiftReport.h"
#include "tests/support/ScriptedShift.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

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
