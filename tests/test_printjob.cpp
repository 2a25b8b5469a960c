#include "data/ConnectionString.h"
#include "data/RecordTable.h"
#include "print/Backends.h"
#include "print/DatabaseRecords.h"
#include "print/ErrorLog.h"
#include "print/ListRecords.h"
#include "print/PrintWorker.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempDir.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace vx::print;
using vx::test::CallLog;
using vx::test::RecordingBackend;
using Calls = std::vector<std::string>;

namespace {

JobParams range(const std::string& lower, const std::string& upper,
                const std::string& templatePath = "/labels/a.rec") {
    JobParams j;
    j.lower = lower;
    j.upper = upper;
    j.templatePath = templatePath;
    return j;
}

std::vector<LabelRecord> numbered(int n, const std::vector<std::string>& pictures = {}) {
    std::vector<LabelRecord> out;
    for (int i = 1; i <= n; ++i)
        out.push_back({std::to_string(i), "C" + std::to_string(i),
                       i - 1 < static_cast<int>(pictures.size()) ? pictures[i - 1] : ""});
    return out;
}

Calls label(const std::string& bh, const std::string& pic = {}) {
    Calls c{"SetNamedSubStringValue(sjy-bh," + bh + ")",
            "SetNamedSubStringValue(sjy-tt,C" + bh + ")"};
    if (!pic.empty())
        c.push_back("SetNamedSubStringValue(sjy-pic," + pic + ")");
    c.push_back("printout(1,false)");
    return c;
}

Calls concat(std::initializer_list<Calls> parts) {
    Calls out;
    for (const Calls& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Calls kStart{"create", "Visible(false)", "formats", "open(/labels/a.rec,true,)"};
const Calls kEnd{"Close(0)", "release", "quit(1)"};

struct Collect : JobObserver {
    std::mutex m;
    std::vector<std::pair<JobParams, JobOutcome>> ended;
    std::vector<std::uint64_t> queued;
    // "serial:started total" and "serial:sent/total", as told.
    std::vector<std::string> told;
    void dispatched(const JobParams& j) override { queued.push_back(j.serial); }
    void started(const JobParams& j, int total) override {
        std::lock_guard lock(m);
        told.push_back(std::to_string(j.serial) + ":started " + std::to_string(total));
    }
    void progress(const JobParams& j, int sent, int total) override {
        std::lock_guard lock(m);
        told.push_back(std::to_string(j.serial) + ":" + std::to_string(sent) + "/" +
                       std::to_string(total));
    }
    void finished(const JobParams& j, const JobOutcome& o) override {
        std::lock_guard lock(m);
        ended.emplace_back(j, o);
    }
};

} // namespace

// ---- one job: the calls and their order ------------------------------------

class PrintJobTest : public ::testing::Test {
protected:
    JobOutcome run(const JobParams& job, std::vector<LabelRecord> records,
                   const std::string& failAt = {}) {
        RecordingBackend backend(log, failAt);
        ListRecords source(std::move(records));
        return runPrintJob(backend, source, job);
    }
    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
};

TEST_F(PrintJobTest, FiveRecordsWithoutPicturesGiveFivePrintoutsAndNoPictureCall) {
    const JobOutcome o = run(range("1", "5"), numbered(5));
    EXPECT_TRUE(o.ok) << o.message;
    EXPECT_EQ(o.labels, 5);
    EXPECT_EQ(o.sent, 5);
    EXPECT_EQ(log->calls(),
              concat({kStart, label("1"), label("2"), label("3"), label("4"), label("5"), kEnd}));
}

TEST_F(PrintJobTest, OnlyRecordsWithAPictureSetTheirPicture) {
    run(range("2", "4"), numbered(5, {"p1.png", "", "p3.png", "", "p5.png"}));
    EXPECT_EQ(log->calls(), concat({kStart, label("2"), label("3", "p3.png"), label("4"), kEnd}));
}

TEST_F(PrintJobTest, AReversedRangeOpensAndClosesAndPrintsNothing) {
    const JobOutcome o = run(range("7", "3"), numbered(10));
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.labels, 0);
    EXPECT_EQ(log->calls(), concat({kStart, kEnd}));
}

TEST_F(PrintJobTest, AFailedOpenEndsTheJobWithoutCloseOrQuit) {
    const JobOutcome o = run(range("1", "5"), numbered(5), "open");
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.message, "open failed");
    EXPECT_EQ(o.backend, "Recording");
    EXPECT_EQ(log->calls(), (Calls{"create", "Visible(false)", "formats"}));
}

TEST_F(PrintJobTest, ADatabaseFailureBetweenLabelsEndsTheJobWithoutCloseOrQuit) {
    // The connection drops after the second record.
    struct Dropping : ListRecords {
        using ListRecords::ListRecords;
        int left = 2;
        bool next(LabelRecord& r) override {
            if (left-- == 0)
                throw PrintError("connection lost");
            return ListRecords::next(r);
        }
    } source(numbered(5));
    RecordingBackend backend(log);
    const JobOutcome o = runPrintJob(backend, source, range("1", "5"));
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.message, "connection lost");
    EXPECT_EQ(o.labels, 2);
    EXPECT_EQ(o.sent, 2) << "labels already printed stay printed";
    EXPECT_EQ(log->calls(), concat({kStart, label("1"), label("2")}));
}

TEST_F(PrintJobTest, AFailingPrintoutEndsTheJobThere) {
    const JobOutcome o = run(range("1", "5"), numbered(5), "printout");
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.labels, 0);
    Calls expected = kStart;
    expected.push_back("SetNamedSubStringValue(sjy-bh,1)");
    expected.push_back("SetNamedSubStringValue(sjy-tt,C1)");
    EXPECT_EQ(log->calls(), expected);
}

TEST_F(PrintJobTest, RecordsOutsideTheBoundsAreNotSelected) {
    run(range("4", "10"), numbered(5));
    EXPECT_EQ(log->calls(), concat({kStart, label("4"), label("5"), kEnd}));
}

// ---- the worker: order, failures, closing ----------------------------------

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        BackendFactory f;
        f.add(".rec",
              [this](const JobParams&) { return std::make_unique<RecordingBackend>(log, failAt); });
        worker = std::make_unique<PrintWorker>(f, [this] {
            recordsMadeOn = std::this_thread::get_id();
            return std::make_unique<ListRecords>(numbered(20));
        });
        worker->addObserver(collect);
    }
    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
    std::string failAt;
    std::shared_ptr<Collect> collect = std::make_shared<Collect>();
    std::thread::id recordsMadeOn;
    std::unique_ptr<PrintWorker> worker;
};

TEST_F(WorkerTest, JobsDispatchedBackToBackPrintInTheOrderOfTheBatchList) {
    log->holdPrintouts();
    ASSERT_TRUE(worker->start(range("1", "2")));
    ASSERT_TRUE(worker->start(range("3", "4")));
    ASSERT_TRUE(worker->start(range("5", "5")));
    ASSERT_TRUE(log->waitHeld()); // the first job is printing; the others are queued
    log->releasePrintouts();
    ASSERT_TRUE(worker->waitIdle(std::chrono::seconds(10)));
    EXPECT_EQ(log->calls(), concat({kStart, label("1"), label("2"), kEnd, kStart, label("3"),
                                    label("4"), kEnd, kStart, label("5"), kEnd}));
    EXPECT_EQ(collect->queued, (std::vector<std::uint64_t>{1, 2, 3}));
    ASSERT_EQ(collect->ended.size(), 3u);
    EXPECT_EQ(collect->ended[2].first.serial, 3u);
    EXPECT_NE(recordsMadeOn, std::this_thread::get_id()) << "the worker's own source";
}

TEST_F(WorkerTest, AFailedJobDoesNotStopTheNextAndIsReported) {
    failAt = "open";
    worker->start(range("1", "1"));
    ASSERT_TRUE(worker->waitIdle(std::chrono::seconds(10)));
    failAt.clear();
    worker->start(range("2", "2"));
    ASSERT_TRUE(worker->waitIdle(std::chrono::seconds(10)));
    ASSERT_EQ(collect->ended.size(), 2u);
    EXPECT_FALSE(collect->ended[0].second.ok);
    EXPECT_EQ(collect->ended[0].second.message, "open failed");
    EXPECT_TRUE(collect->ended[1].second.ok);
}

TEST_F(WorkerTest, ATemplateNoBackEndTakesFailsTheJob) {
    worker->start(range("1", "1", "/labels/a.btw"));
    ASSERT_TRUE(worker->waitIdle(std::chrono::seconds(10)));
    ASSERT_EQ(collect->ended.size(), 1u);
    EXPECT_FALSE(collect->ended[0].second.ok);
    EXPECT_TRUE(log->calls().empty());
}

TEST_F(WorkerTest, ObserversHearEachJobStartWithItsLabelsAndEveryLabelSent) {
    worker->start(range("3", "5"));
    worker->start(range("9", "8")); // reversed: nothing to print
    ASSERT_TRUE(worker->waitIdle(std::chrono::seconds(10)));
    std::lock_guard lock(collect->m);
    EXPECT_EQ(collect->told, (std::vector<std::string>{"1:started 3", "1:1/3", "1:2/3", "1:3/3",
                                                       "2:started 0", "2:0/0"}));
}

TEST_F(WorkerTest, ACancelledJobStopsBeforeItsNextLabelAndAQueuedOneNeverStarts) {
    log->holdPrintouts();
    const std::uint64_t running = worker->start(range("1", "3"));
    const std::uint64_t queued = worker->start(range("4", "5"));
    ASSERT_TRUE(log->waitHeld()); // label 1 is printing
    EXPECT_TRUE(worker->cancel(queued));
    EXPECT_TRUE(worker->cancel(running));
    EXPECT_FALSE(worker->cancel(queued)) << "gone already";
    log->releasePrintouts();
    ASSERT_TRUE(worker->waitIdle(std::chrono::seconds(10)));
    EXPECT_EQ(log->calls(), concat({kStart, label("1")})) << "no Close, no quit, no job 4-5";
    std::lock_guard lock(collect->m);
    ASSERT_EQ(collect->ended.size(), 2u);
    // The queued one ends first, at once; the running one after its label.
    EXPECT_EQ(collect->ended[0].first.serial, queued);
    EXPECT_TRUE(collect->ended[0].second.cancelled);
    EXPECT_EQ(collect->ended[0].second.sent, 0);
    EXPECT_EQ(collect->ended[1].first.serial, running);
    EXPECT_TRUE(collect->ended[1].second.cancelled);
    EXPECT_FALSE(collect->ended[1].second.ok);
    EXPECT_EQ(collect->ended[1].second.sent, 1) << "the label printed counts as sent";
    EXPECT_EQ(collect->ended[1].second.message, "cancelled by the operator");
    EXPECT_FALSE(worker->cancel(running));
}

TEST_F(WorkerTest, ClosingWaitsForTheRunningAndQueuedJobs) {
    log->holdPrintouts();
    worker->start(range("1", "3"));
    worker->start(range("4", "4"));
    ASSERT_TRUE(log->waitHeld());
    std::thread closer([&] { worker->close(std::chrono::seconds(30)); });
    log->releasePrintouts();
    closer.join();
    EXPECT_EQ(log->calls(),
              concat({kStart, label("1"), label("2"), label("3"), kEnd, kStart, label("4"), kEnd}));
    EXPECT_EQ(worker->start(range("5", "5")), 0u) << "a closed worker takes no job";
}

TEST_F(WorkerTest, ClosingPastItsTimeReportsJobsThatNeverStartedAndLetsTheRunningOneEnd) {
    log->holdPrintouts();
    worker->start(range("1", "2"));
    worker->start(range("3", "3"));
    ASSERT_TRUE(log->waitHeld());
    worker->close(std::chrono::milliseconds(50));
    {
        std::lock_guard lock(collect->m);
        ASSERT_EQ(collect->ended.size(), 1u);
        EXPECT_EQ(collect->ended[0].first.rangeText(), "3-3");
        EXPECT_FALSE(collect->ended[0].second.ok);
    }
    worker.reset(); // the window is gone; the job goes on
    log->releasePrintouts();
    auto ended = [&] {
        std::lock_guard lock(collect->m);
        return collect->ended.size();
    };
    for (int i = 0; i < 1000 && ended() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::lock_guard lock(collect->m);
    ASSERT_EQ(collect->ended.size(), 2u);
    EXPECT_TRUE(collect->ended[1].second.ok);
    EXPECT_EQ(log->calls().back(), "quit(1)");
}

// ---- the error log ---------------------------------------------------------

TEST(ErrorLogTest, AFailedJobIsOneLineWithTimeRangeTemplateAndMessage) {
    vx::test::TempDir dir;
    const std::string path = dir.file("error.log");
    ErrorLog log(path, [] { return std::string("2026-04-24 09:15:02"); });
    JobParams job = range("3", "7", "D:\\labels\\a.btw");
    JobOutcome failed;
    failed.labels = 2;
    failed.sent = 2;
    failed.backend = "BarTender";
    failed.message = "open: the file\r\nwas not found\n";
    log.finished(job, failed);
    JobOutcome ok;
    ok.ok = true;
    log.finished(job, ok);
    EXPECT_EQ(vx::test::readFile(path),
              "2026-04-24 09:15:02  print job 3-7 failed; 2 of 2 label(s) sent to the printer; "
              "template \"D:\\labels\\a.btw\"; back end BarTender: open: the file / was not "
              "found\r\n");
}

// ---- choosing a back end ---------------------------------------------------

TEST(BackendChoice, TheExtensionPicksTheBackEndWhateverItsCase) {
    BackendFactory f;
    auto log = std::make_shared<CallLog>();
    f.add(".glabels", [&](const JobParams&) { return std::make_unique<RecordingBackend>(log); });
    EXPECT_TRUE(f.accepts("/x/Label.GLABELS"));
    EXPECT_FALSE(f.accepts("/x.glabels/label"));
    EXPECT_FALSE(f.accepts("/x/label"));
    EXPECT_EQ(f.make(range("1", "1", "/x/a.GLabels"))->name(), "Recording");
    try {
        f.make(range("1", "1", "/x/a.lbl"));
        ADD_FAILURE();
    } catch (const PrintError& e) {
        EXPECT_NE(std::string(e.what()).find(".glabels"), std::string::npos) << e.what();
    }
}

TEST(BackendChoice, TheTemplateDialogListsWhatThisPlatformPrints) {
#ifdef _WIN32
    EXPECT_EQ(templateFilter(platformBackends()), "BT模板 (*.btw)|*.btw|所有文件 (*.*)|*.*");
#else
    EXPECT_EQ(templateFilter(platformBackends()),
              "标签模板 (*.glabels *.zpl)|*.glabels;*.zpl|所有文件 (*.*)|*.*");
    EXPECT_THROW(platformBackends().make(range("1", "1", "C:\\a.btw")), PrintError);
#endif
}

TEST(BackendChoice, TheSwitchIsOfferedForTemplatesABackEndHerePrintsWhenItIsReady) {
    // The Windows station's back ends, BarTender's ready while its automation
    // server is registered; the rule is the same on every platform.
    auto log = std::make_shared<CallLog>();
    auto recording = [&](const JobParams&) { return std::make_unique<RecordingBackend>(log); };
    for (bool registered : {false, true}) {
        BackendFactory windows;
        windows.add(".btw", recording, [&] { return registered; });
        windows.add(".zpl", recording);
        EXPECT_EQ(directPrintAvailable(windows, "C:\\labels\\a.BTW"), registered);
        EXPECT_TRUE(directPrintAvailable(windows, "C:\\labels\\a.zpl"))
            << "a label printer needs no BarTender";
        EXPECT_FALSE(directPrintAvailable(windows, "C:\\labels\\a.glabels"))
            << "no back end prints it here";
        EXPECT_FALSE(directPrintAvailable(windows, ""));
    }
    BackendFactory linuxStation;
    linuxStation.add(".glabels", recording);
    linuxStation.add(".zpl", recording);
    EXPECT_TRUE(directPrintAvailable(linuxStation, "/labels/a.glabels"));
    EXPECT_FALSE(directPrintAvailable(linuxStation, "/labels/a.btw")) << "no BarTender back end";
}

TEST(RecordArguments, NumberCodeAndPictureAreSplitAtTheOuterBars) {
    LabelRecord r;
    ASSERT_TRUE(parseRecord("5|VX5|C:\\p\\a_5.png", r));
    EXPECT_EQ(r.bh, "5");
    EXPECT_EQ(r.tt, "VX5");
    EXPECT_EQ(r.pic, "C:\\p\\a_5.png");
    ASSERT_TRUE(parseRecord("6|A|B|", r));
    EXPECT_EQ(r.tt, "A|B");
    EXPECT_EQ(r.pic, "");
    ASSERT_TRUE(parseRecord("7|VX7", r));
    EXPECT_EQ(r.tt, "VX7");
    EXPECT_EQ(r.pic, "");
    EXPECT_FALSE(parseRecord("VX7", r));
    EXPECT_FALSE(parseRecord("x|VX7", r));
}

// ---- the station's records: a15 on the worker's own connection -------------

namespace {

// A label database file holding a15 with n records, their texts prefix1 …
void makeRecordFile(const std::string& path, const std::string& prefix, int n) {
    vx::data::Connection db;
    db.openWith(vx::data::openSqliteBackend(path));
    vx::data::Query q(db);
    for (const auto& l : vx::data::RecordTable::createBatch(db.dialect(), "a15", true))
        q.add(l);
    q.execute();
    for (int i = 1; i <= n; ++i) {
        q.setText(vx::data::RecordTable::insertText(db.dialect(), "a15"));
        q.setParam("a", prefix + std::to_string(i));
        q.execute();
    }
}

std::vector<std::string> codes(DatabaseRecords& records) {
    std::vector<std::string> got;
    LabelRecord r;
    while (records.next(r))
        got.push_back(r.tt);
    return got;
}

} // namespace

TEST(DatabaseRecordsTest, SelectsTheRangeOnAConnectionOfItsOwn) {
    vx::test::TempDir dir;
    makeRecordFile(dir.file("station.db"), "VX", 5);
    {
        vx::data::Connection db;
        db.openWith(vx::data::openSqliteBackend(dir.file("station.db")));
        vx::data::Query q(db);
        q.setText("update a15 set pic='/p/a_3.png' where bh=3");
        q.execute();
        q.setText("update a15 set pic=NULL where bh=4");
        q.execute();
    }
    JobParams job = range("2", "4");
    job.database = vx::data::buildConnectionString({"station.db", "", "sa", ""});
    job.baseFolder = dir.folder();
    DatabaseRecords records;
    records.select(job);
    std::vector<std::string> got;
    LabelRecord r;
    while (records.next(r))
        got.push_back(r.bh + "|" + r.tt + "|" + r.pic);
    EXPECT_EQ(got, (std::vector<std::string>{"2|VX2|", "3|VX3|/p/a_3.png", "4|VX4|"}));

    JobParams reversed = job;
    reversed.lower = "5";
    reversed.upper = "1";
    records.select(reversed);
    EXPECT_FALSE(records.next(r)) << "a reversed range selects nothing";

    // Settings that name another database reopen the connection.
    job.database = vx::data::buildConnectionString({"other.db", "", "sa", ""});
    EXPECT_THROW(records.select(job), std::exception) << "other.db holds no a15";
    job.database = vx::data::buildConnectionString({"station.db", "", "sa", ""});
    records.select(job);
    EXPECT_TRUE(records.next(r)) << "after a failure the next job starts afresh";
}

TEST(DatabaseRecordsTest, AFileReplacedWhileTheStationRunsIsReopenedOnceAndReadFromTheNewOne) {
    vx::test::TempDir dir;
    makeRecordFile(dir.file("station.db"), "OLD", 3);
    JobParams job = range("1", "3");
    job.database = vx::data::buildConnectionString({"station.db", "", "sa", ""});
    job.baseFolder = dir.folder();
    DatabaseRecords records;
    records.select(job);
    EXPECT_EQ(codes(records), (std::vector<std::string>{"OLD1", "OLD2", "OLD3"}));

    // A new copy put in its place (a restore, a file copied over): the old
    // connection still holds the file that was there.
    makeRecordFile(dir.file("new.db"), "NEW", 3);
    ASSERT_EQ(std::rename(dir.file("new.db").c_str(), dir.file("station.db").c_str()), 0);
    ASSERT_NO_THROW(records.select(job));
    EXPECT_EQ(codes(records), (std::vector<std::string>{"NEW1", "NEW2", "NEW3"}));

    // Deleted: no second chance succeeds, and the job is told why.
    ASSERT_EQ(std::remove(dir.file("station.db").c_str()), 0);
    try {
        records.select(job);
        FAIL() << "a deleted database gave records";
    } catch (const vx::data::DbError& e) {
        EXPECT_NE(std::string(e.what()).find("station.db"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("station.db")))
        << "the print worker does not make an empty database where the station's was";

    makeRecordFile(dir.file("station.db"), "BACK", 2);
    records.select(job);
    EXPECT_EQ(codes(records), (std::vector<std::string>{"BACK1", "BACK2"}));
}
