// The journal file: what goes in comes back, a killed writer keeps what it
// had appended, and a disk that takes no more writes stops nothing.

#include "journal/Journal.h"
#include "journal/JournalReader.h"
#include "journal/StationJournal.h"
#include "tests/support/Databases.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TempDir.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vx;
using journal::Journal;
using journal::JournalEvent;
using journal::JournalReader;
using journal::JournalRow;
using test::journalRows;

namespace {

JournalEvent scanRow(std::int64_t record) {
    JournalEvent e;
    e.kind = "scan";
    e.what = "good";
    e.record = record;
    e.code = "VX" + std::to_string(record);
    e.raw = *e.code + "\r\n";
    return e;
}

// A clock the test moves by hand.
struct ManualClock {
    std::shared_ptr<std::atomic<std::int64_t>> now =
        std::make_shared<std::atomic<std::int64_t>>(1'700'000'000'000);
    Journal::Clock fn() const {
        return [n = now] { return n->load(); };
    }
};

} // namespace

TEST(JournalRows, EveryFieldComesBackByteForByteAndUnsetFieldsStayEmpty) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    ManualClock clock;
    Journal j(path, clock.fn());

    JournalEvent scan;
    scan.kind = "scan";
    scan.what = "missing-range";
    scan.record = 9;
    scan.low = 6;
    scan.high = 8;
    scan.code = std::string("VX\0\xB1\xEA", 5); // a NUL and GBK bytes stay as they are
    scan.raw = std::string("VX\0\xB1\xEA\r\n", 7);
    ASSERT_TRUE(j.append(scan));

    JournalEvent empty; // an empty scan is a scan: raw and code are empty, not missing
    empty.kind = "scan";
    empty.what = "comparison-off";
    empty.raw = "";
    empty.code = "";
    empty.time = 42; // a time given is kept
    ASSERT_TRUE(j.append(empty));

    JournalEvent job;
    job.kind = "print";
    job.what = "failed";
    job.low = 3;
    job.high = 7;
    job.labels = 2;
    job.subject = "/labels/a.glabels";
    job.backend = "gLabels";
    job.message = "printer gone";
    *clock.now += 5;
    ASSERT_TRUE(j.append(job));

    // Read while the writer still has the file open, as the tool does
    // beside a running station.
    const auto rows = journalRows(path);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].time, 1'700'000'000'000);
    EXPECT_EQ(rows[0].kind, "scan");
    EXPECT_EQ(rows[0].what, "missing-range");
    EXPECT_EQ(rows[0].record, 9);
    EXPECT_EQ(rows[0].low, 6);
    EXPECT_EQ(rows[0].high, 8);
    EXPECT_EQ(rows[0].code, std::string("VX\0\xB1\xEA", 5));
    EXPECT_EQ(rows[0].raw, std::string("VX\0\xB1\xEA\r\n", 7));
    EXPECT_FALSE(rows[0].labels);
    EXPECT_EQ(rows[0].subject, "");
    EXPECT_EQ(rows[0].message, "");

    EXPECT_EQ(rows[1].time, 42);
    ASSERT_TRUE(rows[1].raw && rows[1].code);
    EXPECT_EQ(*rows[1].raw, "");
    EXPECT_FALSE(rows[1].record);

    EXPECT_EQ(rows[2].time, 1'700'000'000'005);
    EXPECT_EQ(rows[2].labels, 2);
    EXPECT_EQ(rows[2].subject, "/labels/a.glabels");
    EXPECT_EQ(rows[2].backend, "gLabels");
    EXPECT_EQ(rows[2].message, "printer gone");
    EXPECT_FALSE(rows[2].raw);
    EXPECT_LT(rows[0].id, rows[1].id);
}

TEST(JournalRows, FiltersSelectByTimeKindVerdictRecordAndCode) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    ManualClock clock;
    {
        Journal j(path, clock.fn());
        for (int i = 1; i <= 6; ++i) {
            JournalEvent e = scanRow(i);
            if (i % 3 == 0)
                e.what = "duplicate";
            ASSERT_TRUE(j.append(e));
            *clock.now += 1000;
        }
        JournalEvent port;
        port.kind = "port";
        port.what = "lost";
        ASSERT_TRUE(j.append(port));
    }
    const std::int64_t t0 = 1'700'000'000'000;
    auto records = [&](journal::JournalFilter f, JournalReader::Order order) {
        std::vector<std::int64_t> out;
        for (const JournalRow& row : journalRows(path, f, order))
            out.push_back(row.record.value_or(-1));
        return out;
    };
    journal::JournalFilter f;
    f.from = t0 + 1000;
    f.to = t0 + 3000;
    EXPECT_EQ(records(f, JournalReader::Order::Time), (std::vector<std::int64_t>{2, 3, 4}));
    EXPECT_EQ(records(f, JournalReader::Order::Appended), (std::vector<std::int64_t>{2, 3, 4}));
    f = {};
    f.kind = "scan";
    f.what = "duplicate";
    EXPECT_EQ(records(f, JournalReader::Order::Time), (std::vector<std::int64_t>{3, 6}));
    f = {};
    f.record = 5;
    EXPECT_EQ(records(f, JournalReader::Order::Time), (std::vector<std::int64_t>{5}));
    f = {};
    f.code = "VX4";
    EXPECT_EQ(records(f, JournalReader::Order::Time), (std::vector<std::int64_t>{4}));
    f = {};
    f.kind = "port";
    EXPECT_EQ(records(f, JournalReader::Order::Time), (std::vector<std::int64_t>{-1}));
}

TEST(JournalRows, AnOpeningAfterALossIsAReconnectionForThePortAndTheDatabaseEachOnItsOwn) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    {
        Journal j(path);
        journal::StationJournal station(j);
        namespace W = journal::JournalWords;
        station.port(W::Opened, "COM3");
        station.port(W::Lost, "COM3");
        station.database(W::Opened, "srv/labels");
        station.port(W::Failed, "COM3", "no such port");
        station.port(W::Opened, "COM4");
        station.port(W::Opened, "COM4");
        station.database(W::Lost, "srv/labels", "connection reset");
        station.database(W::Failed, "srv/labels");
        station.database(W::Opened, "srv/labels");
        const std::string user = "sa";
        station.settingsSaved("Database", {{"username", &user}, {"mm", nullptr}});
    }
    std::vector<std::string> rows;
    for (const auto& r : journalRows(path))
        rows.push_back(r.kind + " " + r.what + " " + r.subject + " | " + r.message);
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "port opened COM3 | ",
                        "port lost COM3 | ",
                        "database opened srv/labels | ",
                        "port failed COM3 | no such port",
                        "port reconnected COM4 | ",
                        "port opened COM4 | ",
                        "database lost srv/labels | connection reset",
                        "database failed srv/labels | ",
                        "database reconnected srv/labels | ",
                        "settings saved [Database] username, mm | username=sa",
                    }));
}

TEST(JournalReaderOpen, AMissingFileOrAFileThatIsNoJournalIsAnError) {
    test::TempDir dir;
    EXPECT_THROW(JournalReader(dir.file("none.db")), data::DbError);
    test::writeFile(dir.file("other.db"), "");
    EXPECT_THROW(JournalReader(dir.file("other.db")), data::DbError)
        << "an empty file has no table";
}

// A writer killed with SIGKILL right after it said "appended" keeps the row:
// an append returns only once the row is in the file's log, and the log
// survives the process.
TEST(JournalCrash, AWriterKilledWithSigkillKeepsEveryRowItHadReported) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        Journal j(path);
        for (std::int64_t i = 1;; ++i) {
            if (!j.append(scanRow(i)))
                _exit(1);
            // Shown: the row's number goes out only after the append.
            const std::string line = std::to_string(i) + "\n";
            if (::write(fds[1], line.data(), line.size()) < 0)
                _exit(2);
        }
    }
    ::close(fds[1]);
    std::int64_t shown = 0;
    std::string pending;
    char buf[256];
    while (shown < 3000) {
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        ASSERT_GT(n, 0) << "the writer stopped early";
        pending.append(buf, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            shown = std::stoll(pending.substr(0, nl));
            pending.erase(0, nl + 1);
        }
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status));

    std::set<std::int64_t> kept;
    for (const auto& row : journalRows(path))
        kept.insert(row.record.value_or(0));
    for (std::int64_t i = 1; i <= shown; ++i)
        ASSERT_TRUE(kept.count(i)) << "row " << i << " of " << shown << " shown rows is gone";
}

// ---- a disk that takes no more writes ---------------------------------------

TEST(JournalTrouble, AFullDiskFailsAppendsReportsOnceAndNotesTheGapWhenRoomReturns) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    const auto r = test::runOnTroubledDisk(
        dir.path(), test::DiskTrouble::Full, 192 * 1024, [&](const std::function<void()>& relieve) {
            ManualClock clock;
            Journal j(path, clock.fn());
            int reports = 0;
            std::string firstReport;
            j.setFailureListener([&](const std::string& m) {
                if (++reports == 1)
                    firstReport = m;
            });
            JournalEvent big = scanRow(1);
            big.message.assign(2000, 'x');
            int written = 0;
            while (written < 10'000 && j.append(big))
                ++written;
            int refused = 1; // the append that ended the loop
            for (int i = 0; i < 20; ++i, *clock.now += 1000)
                refused += j.append(scanRow(2)) ? 0 : 1;
            const bool writableWhileFull = j.writable();
            relieve();
            *clock.now += Journal::kReopenIntervalMs;
            const bool after = j.append(scanRow(3));
            const auto rows = journalRows(path);
            std::string resumed = "none";
            for (const auto& row : rows)
                if (row.kind == "journal" && row.what == "resumed")
                    resumed = std::to_string(row.labels.value_or(-1));
            return "written>0=" + std::to_string(written > 0) +
                   " refused=" + std::to_string(refused) + " reports=" + std::to_string(reports) +
                   " writableWhileFull=" + std::to_string(writableWhileFull) +
                   " after=" + std::to_string(after) + " resumed=" + resumed +
                   " last=" + std::to_string(rows.empty() ? -1 : rows.back().record.value_or(-1)) +
                   "\n" + firstReport;
        });
    if (!r.ran)
        GTEST_SKIP() << "this machine can make no full disk";
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string summary = r.output.substr(0, r.output.find('\n'));
    EXPECT_EQ(summary, "written>0=1 refused=21 reports=1 writableWhileFull=0 after=1 resumed=21 "
                       "last=3")
        << "made with " << r.howMade;
    EXPECT_NE(r.output.find(path), std::string::npos) << "the report names the file: " << r.output;
}

TEST(JournalTrouble, AJournalThatCannotBeOpenedIsTriedAgainOncePerIntervalNotAtEveryAppend) {
    test::TempDir dir;
    const std::string folder = dir.file("not-yet");
    const std::string path = folder + "/" + Journal::kFileName;
    ManualClock clock;
    Journal j(path, clock.fn());
    int reports = 0;
    j.setFailureListener([&](const std::string&) { ++reports; });
    EXPECT_FALSE(j.append(scanRow(1)));

    // The folder appears; a scan every second must not try the file each time.
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    for (std::int64_t i = 2; i <= 5; ++i) {
        *clock.now += 1000;
        EXPECT_FALSE(j.append(scanRow(i))) << "reopened " << (i - 1) << " s after the last try";
    }
    EXPECT_FALSE(std::filesystem::exists(path));

    *clock.now += Journal::kReopenIntervalMs;
    EXPECT_TRUE(j.append(scanRow(6)));
    EXPECT_EQ(reports, 1);
    const auto rows = journalRows(path);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].what, "resumed");
    EXPECT_EQ(rows[0].labels, 5) << "the events not written";
    EXPECT_EQ(rows[1].record, 6);
}

TEST(JournalTrouble, AReadOnlyFolderIsReportedOnceAndAppendsNeverThrow) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    for (bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "a journal was there before" : "no journal yet");
        const auto r = test::runOnTroubledDisk(
            dir.path(), test::DiskTrouble::ReadOnly, 1024 * 1024,
            [&](const std::function<void()>&) {
                Journal j(path);
                int reports = 0;
                j.setFailureListener([&](const std::string&) { ++reports; });
                int refused = 0;
                for (int i = 0; i < 30; ++i)
                    refused += j.append(scanRow(i)) ? 0 : 1;
                return "refused=" + std::to_string(refused) +
                       " reports=" + std::to_string(reports) + " lost=" + std::to_string(j.lost());
            },
            [&] {
                if (existing) {
                    Journal before(path);
                    before.append(scanRow(1));
                }
            });
        ::chmod(dir.path().c_str(), 0700); // where permissions stood in for the disk
        if (!r.ran)
            GTEST_SKIP() << "this machine can make no read-only folder";
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output, "refused=30 reports=1 lost=30") << "made with " << r.howMade;
    }
}
