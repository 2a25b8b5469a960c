// Every verdict and every print outcome leaves exactly one journal row with
// the right fields, and a scan's row is in the file before anything of the
// verdict is shown or heard.

#include "data/Database.h"
#include "data/RecordTable.h"
#include "print/ListRecords.h"
#include "print/PrintJournal.h"
#include "scan/ScanStation.h"
#include "tests/support/Databases.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempDir.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace vx;
using journal::JournalRow;
using scan::ScanSwitches;
using test::journalRows;

namespace {

// Counts the journal's rows whenever the station makes itself heard or seen.
struct Witness : scan::SoundPlayer, scan::WindowActivator {
    std::string path;
    std::vector<std::size_t> rowsAtSound, rowsAtFront;
    void play(const std::string&) override { rowsAtSound.push_back(journalRows(path).size()); }
    void bringToFront() override { rowsAtFront.push_back(journalRows(path).size()); }
};

std::string code(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "C%03d", n);
    return buf;
}

class ScanRows : public ::testing::Test {
protected:
    void SetUp() override {
        db.openWith(data::openSqliteBackend(dir.file("a15.db")));
        data::Query q(db);
        for (const auto& l : data::RecordTable::createBatch(data::Dialect::Sqlite, "a15", false))
            q.add(l);
        q.execute();
        for (int i = 1; i <= 20; ++i) {
            q.setText(data::RecordTable::insertText(data::Dialect::Sqlite, "a15"));
            q.setParam("a", code(i));
            q.execute();
        }
        witness.path = journal.path();
        st.setJournal(&journal);
        st.engine.strstart = "1";
        st.engine.strnum = "4";
        on.chk_start = true;
    }
    // Scans once and returns the one row the scan added.
    JournalRow scan(const std::string& text, const ScanSwitches& sw) {
        const std::size_t before = journalRows(journal.path()).size();
        st.com31RxChar(text, sw);
        const auto after = journalRows(journal.path());
        EXPECT_EQ(after.size(), before + 1) << "one row per scan: " << text;
        return after.empty() ? JournalRow{} : after.back();
    }

    test::TempDir dir;
    data::Connection db;
    data::Query ADOQuery1{db};
    journal::Journal journal{dir.file(journal::Journal::kFileName)};
    Witness witness;
    scan::ScanStation st{db, ADOQuery1, witness, witness, "/opt/vexora/"};
    ScanSwitches on;
};

} // namespace

TEST_F(ScanRows, EveryVerdictIsOneRowWithItsDetails) {
    struct Case {
        const char* name;
        std::string scanText;
        const char* what;
        std::optional<std::int64_t> record, low, high;
        std::string code;
    };
    ScanSwitches off = on;
    off.chk_start = false;
    // In this order: each case leaves the state the next one meets.
    const std::vector<std::pair<Case, ScanSwitches>> cases = {
        {{"comparison off", "C001\r\n", "comparison-off", {}, {}, {}, "C001"}, off},
        {{"good", "C001\r\n", "good", 1, {}, {}, "C001"}, on},
        {{"ignored repeat", "C001\r\n", "ignored-repeat", 1, {}, {}, "C001"}, on},
        {{"missing range", "C005\r\n", "missing-range", 5, 2, 4, "C005"}, on},
        {{"duplicate", "C001\r\n", "duplicate", 1, {}, {}, "C001"}, on},
        {{"wrong length", "C1\r", "wrong-length", {}, {}, {}, "C1\r"}, on},
        {{"not found", "X999\r\n", "not-found", {}, {}, {}, "X999"}, on},
    };
    for (const auto& [c, sw] : cases) {
        SCOPED_TRACE(c.name);
        const JournalRow r = scan(c.scanText, sw);
        EXPECT_EQ(r.kind, "scan");
        EXPECT_EQ(r.what, c.what);
        EXPECT_EQ(r.record, c.record);
        EXPECT_EQ(r.low, c.low);
        EXPECT_EQ(r.high, c.high);
        EXPECT_EQ(r.raw, c.scanText) << "the bytes as received";
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.message, "");
        EXPECT_GT(r.time, 1'700'000'000'000) << "UTC milliseconds";
    }
}

TEST_F(ScanRows, ADatabaseErrorKeepsTheDatabasesMessageAndAClosedDatabaseIsNoVerdict) {
    data::Query drop(db);
    drop.setText("DROP TABLE a15");
    drop.execute();
    const JournalRow failed = scan("C002", on);
    EXPECT_EQ(failed.what, "database-error");
    EXPECT_NE(failed.message.find("a15"), std::string::npos) << failed.message;
    EXPECT_EQ(failed.code, "C002");

    db.close();
    const JournalRow closed = scan("C002", on);
    EXPECT_EQ(closed.what, "no-database");
    EXPECT_FALSE(closed.record);
}

TEST_F(ScanRows, TheRowIsWrittenBeforeTheVerdictIsHeardOrBroughtToTheFront) {
    scan("C001", on); // good: the digit is announced
    scan("C1", on);   // wrong length: the station comes to the front
    ASSERT_EQ(witness.rowsAtSound.size(), 1u);
    EXPECT_EQ(witness.rowsAtSound[0], 1u) << "the good scan's row was there when its digit played";
    ASSERT_EQ(witness.rowsAtFront.size(), 1u);
    EXPECT_EQ(witness.rowsAtFront[0], 2u);
}

// ---- print outcomes ----------------------------------------------------------

namespace {

std::vector<print::LabelRecord> twenty() {
    std::vector<print::LabelRecord> r;
    for (int i = 1; i <= 20; ++i)
        r.push_back({std::to_string(i), code(i), ""});
    return r;
}

print::JobParams job(const std::string& lo, const std::string& hi) {
    print::JobParams p;
    p.lower = lo;
    p.upper = hi;
    p.templatePath = "/labels/a.rec";
    return p;
}

} // namespace

TEST(PrintRows, EveryDispatchAndEveryJobOutcomeIsOneRow) {
    test::TempDir dir;
    auto journal = std::make_shared<journal::Journal>(dir.file(journal::Journal::kFileName));
    auto log = std::make_shared<test::CallLog>();
    std::string failAt;
    print::BackendFactory f;
    f.add(".rec", [&](const print::JobParams&) {
        return std::make_unique<test::RecordingBackend>(log, failAt);
    });
    auto worker = std::make_unique<print::PrintWorker>(
        f, [] { return std::make_unique<print::ListRecords>(twenty()); });
    worker->addObserver(std::make_shared<print::PrintJournal>(journal));
    auto run = [&](const print::JobParams& p) {
        ASSERT_TRUE(worker->start(p));
        ASSERT_TRUE(worker->waitIdle(std::chrono::seconds(10)));
    };
    run(job("3", "5"));
    failAt = "open";
    run(job("6", "6"));
    failAt = "printout";
    run(job("7", "8"));
    // Labels 16 and 17 went to the printer, then the job failed.
    failAt = "SetNamedSubStringValue(sjy-bh,18)";
    run(job("16", "19"));
    failAt.clear();
    // Cancelled while its first label prints: that label counts as sent.
    log->holdPrintouts();
    const std::uint64_t serial = worker->start(job("16", "18"));
    ASSERT_TRUE(log->waitHeld());
    EXPECT_TRUE(worker->cancel(serial));
    log->releasePrintouts();
    ASSERT_TRUE(worker->waitIdle(std::chrono::seconds(10)));
    journal->append(print::PrintJournal::dispatchEvent("9", "12", "", false));
    // A job still queued when the station closes never starts.
    log->holdPrintouts();
    worker->start(job("13", "14"));
    ASSERT_TRUE(log->waitHeld());
    worker->start(job("15", "15"));
    worker->close(std::chrono::milliseconds(50));
    log->releasePrintouts();
    worker.reset(); // the running job ends on its own thread, journal kept alive
    for (int i = 0; i < 1000 && journalRows(journal->path()).size() < 20; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    struct Want {
        const char* what;
        std::int64_t low, high;
        std::optional<std::int64_t> labels;
        const char* backend;
        const char* message; // the start of it
    };
    // Each state of a job is a row: queued (dispatched), printing, and
    // printed, failed or cancelled.
    const std::vector<Want> want = {
        {"dispatched", 3, 5, {}, "direct", ""},
        {"printing", 3, 5, {}, "", "3 label(s) to print"},
        {"printed", 3, 5, 3, "Recording", ""},
        {"dispatched", 6, 6, {}, "direct", ""},
        {"failed", 6, 6, 0, "Recording", "open failed"},
        {"dispatched", 7, 8, {}, "direct", ""},
        {"printing", 7, 8, {}, "", "2 label(s) to print"},
        {"failed", 7, 8, 0, "Recording", "printout failed"},
        {"dispatched", 16, 19, {}, "direct", ""},
        {"printing", 16, 19, {}, "", "4 label(s) to print"},
        {"failed", 16, 19, 2, "Recording", "SetNamedSubStringValue failed"},
        {"dispatched", 16, 18, {}, "direct", ""},
        {"printing", 16, 18, {}, "", "3 label(s) to print"},
        {"cancelled", 16, 18, 1, "Recording", "cancelled by the operator"},
        {"dispatched", 9, 12, {}, "manual", ""},
        {"dispatched", 13, 14, {}, "direct", ""},
        {"printing", 13, 14, {}, "", "2 label(s) to print"},
        {"dispatched", 15, 15, {}, "direct", ""},
        {"failed", 15, 15, 0, "", "the station closed before the job started"},
        {"printed", 13, 14, 2, "Recording", ""},
    };
    const auto got = journalRows(journal->path());
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_EQ(got[i].kind, "print");
        EXPECT_EQ(got[i].what, want[i].what);
        EXPECT_EQ(got[i].low, want[i].low);
        EXPECT_EQ(got[i].high, want[i].high);
        EXPECT_EQ(got[i].labels, want[i].labels);
        EXPECT_EQ(got[i].backend, want[i].backend);
        EXPECT_EQ(got[i].message.rfind(want[i].message, 0), 0u) << got[i].message;
        EXPECT_EQ(got[i].subject, want[i].backend == std::string("manual") ? "" : "/labels/a.rec");
        // A failed or cancelled job names the record of the last label it
        // sent: 17 of 16-19, 16 of 16-18.
        const std::optional<std::int64_t> last = i == 10   ? std::optional<std::int64_t>(17)
                                                 : i == 13 ? std::optional<std::int64_t>(16)
                                                           : std::nullopt;
        EXPECT_EQ(got[i].record, last);
    }
}

// An observer slow to hear of a dispatch still hears of it before the job's
// end: a journal never shows a job ending before it was sent.
TEST(PrintRows, AJobsEndIsNeverToldBeforeItsDispatch) {
    struct Slow : print::JobObserver {
        std::mutex m;
        std::condition_variable cv;
        std::vector<std::string> order;
        void dispatched(const print::JobParams&) override {
            std::unique_lock lock(m);
            // Gives a worker that already took the job time to end it.
            cv.wait_for(lock, std::chrono::milliseconds(300), [&] { return !order.empty(); });
            order.push_back("dispatched");
            cv.notify_all();
        }
        void finished(const print::JobParams&, const print::JobOutcome&) override {
            std::lock_guard lock(m);
            order.push_back("finished");
            cv.notify_all();
        }
    };
    auto log = std::make_shared<test::CallLog>();
    print::BackendFactory f;
    f.add(".rec",
          [&](const print::JobParams&) { return std::make_unique<test::RecordingBackend>(log); });
    print::PrintWorker worker(f, [] { return std::make_unique<print::ListRecords>(twenty()); });
    auto slow = std::make_shared<Slow>();
    worker.addObserver(slow);
    ASSERT_TRUE(worker.start(job("1", "2")));
    ASSERT_TRUE(worker.waitIdle(std::chrono::seconds(10)));
    std::lock_guard lock(slow->m);
    EXPECT_EQ(slow->order, (std::vector<std::string>{"dispatched", "finished"}));
}
