// The journal file: what goes in comes back, a killed writer keeps what it
// had appended, and a disk that takes no more writes stops nothing.

#include "journal/Journal.h"
#include "journal/JournalChain.h"
#include "journal/JournalReader.h"
#include "journal/StationJournal.h"
#include "tests/support/Databases.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TempDir.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <map>
#include <set>
#include <sqlite3.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
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
            j.setFailureListener([&](Journal::Trouble, const std::string& m) {
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
    j.setFailureListener([&](Journal::Trouble, const std::string&) { ++reports; });
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
                j.setFailureListener([&](Journal::Trouble, const std::string&) { ++reports; });
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

// The rows go from the write-ahead log into the file while the station
// runs, not only when it closes: a log that only grows would take several
// kilobytes a scan until the station ends, and a reader would walk it all.
TEST(JournalFile, TheLogIsFoldedIntoTheFileWhileTheJournalIsOpen) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    Journal j(path);
    const std::uint64_t empty = std::filesystem::file_size(path);
    for (int i = 1; i <= 3 * Journal::kCheckpointFrames; ++i)
        ASSERT_TRUE(j.append(scanRow(i)));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::filesystem::file_size(path) < empty + 100'000 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        j.append(scanRow(0)); // each commit past the mark wakes the checkpoint again
    }
    EXPECT_GT(std::filesystem::file_size(path), empty + 100'000)
        << "the file holds no rows; the log is " << std::filesystem::file_size(path + "-wal")
        << " bytes";
}

// ---- the file under the journal ---------------------------------------------

namespace {

// "restarted: …" or "cannot write: …" for each thing the listener heard.
struct Told {
    std::vector<std::string> lines;
    Journal::FailureListener listener() {
        return [this](Journal::Trouble t, const std::string& m) {
            lines.push_back((t == Journal::Trouble::Restarted ? "restarted: " : "cannot write: ") +
                            m);
        };
    }
};

std::vector<std::int64_t> records(const std::vector<JournalRow>& rows) {
    std::vector<std::int64_t> out;
    for (const auto& r : rows)
        if (r.kind == "scan")
            out.push_back(r.record.value_or(-1));
    return out;
}

std::vector<std::int64_t> range(std::int64_t from, std::int64_t to) {
    std::vector<std::int64_t> out;
    for (std::int64_t i = from; i <= to; ++i)
        out.push_back(i);
    return out;
}

// A child process that appends rows 1 … n and is killed with SIGKILL: its
// last rows are in the write-ahead log only.
void crashAfterAppending(const std::string& path, int n) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        Journal j(path);
        for (int i = 1; i <= n; ++i)
            if (!j.append(scanRow(i)))
                _exit(1);
        ::kill(::getpid(), SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GT(std::filesystem::file_size(path + "-wal"), 0u);
}

// The file whose name starts with prefix in dir, other than those with a
// -wal or -shm end; "" when there is none.
std::string fileStartingWith(const std::string& dir, const std::string& prefix) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && name.find("-wal") == std::string::npos &&
            name.find("-shm") == std::string::npos)
            return e.path().string();
    }
    return {};
}

} // namespace

// A journal file deleted, or moved away, while the journal has it open is
// noticed at the next append: told once, and a new file at the path goes on
// with the events, its first row saying what became of the one before.
// Moved away, the file keeps every event appended before, its log folded in.
TEST(JournalFile, AFileDeletedOrMovedAwayIsNoticedAndANewOneContinuesTheJournal) {
    for (const bool moved : {false, true}) {
        SCOPED_TRACE(moved ? "moved away" : "deleted");
        test::TempDir dir;
        const std::string path = dir.file(Journal::kFileName);
        Told told;
        {
            Journal j(path);
            j.setFailureListener(told.listener());
            for (int i = 1; i <= 3; ++i)
                ASSERT_TRUE(j.append(scanRow(i)));
            if (moved)
                std::filesystem::rename(path, dir.file("moved.db"));
            else
                for (const char* part : {"", "-wal", "-shm"})
                    std::filesystem::remove(path + part);
            for (int i = 4; i <= 6; ++i)
                EXPECT_TRUE(j.append(scanRow(i)));
            EXPECT_TRUE(j.writable());
            EXPECT_EQ(j.lost(), 0);
        }
        ASSERT_EQ(told.lines.size(), 1u);
        EXPECT_EQ(told.lines[0], "restarted: the journal file " + path +
                                     " was deleted or replaced while the station ran; a new "
                                     "one was started");
        const auto rows = journalRows(path);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows[0].kind + " " + rows[0].what, "journal replaced");
        EXPECT_EQ(records(rows), range(4, 6));
        if (moved) {
            EXPECT_FALSE(std::filesystem::exists(dir.file("moved.db-wal")));
            EXPECT_EQ(records(journalRows(dir.file("moved.db"))), range(1, 3));
        }
    }
}

// The station's last events of a journal that was moved away after a crash
// are in its write-ahead log, left at the old name: the next journal keeps
// that log rather than letting SQLite delete it as its own.
TEST(JournalFile, ALogLeftByAJournalMovedAwayAfterACrashIsKeptAndNamed) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    crashAfterAppending(path, 5);
    std::filesystem::rename(path, dir.file("moved.db"));
    Told told;
    {
        Journal j(path);
        j.setFailureListener(told.listener());
        ASSERT_TRUE(j.append(scanRow(6)));
    }
    const auto rows = journalRows(path);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].kind + " " + rows[0].what, "journal orphaned-log");
    const std::string kept = rows[0].subject;
    EXPECT_EQ(kept.rfind(path + "-wal.orphaned-", 0), 0u) << kept;
    ASSERT_EQ(told.lines.size(), 1u);
    EXPECT_NE(told.lines[0].find("kept as " + kept), std::string::npos) << told.lines[0];
    // Put beside the file it belongs to, it gives back the last events.
    std::filesystem::rename(kept, dir.file("moved.db-wal"));
    EXPECT_EQ(records(journalRows(dir.file("moved.db"))), range(1, 5));
}

// ---- a shared-memory file that cannot be used ---------------------------------

namespace {

// Runs a journal in a child process, breaks its -shm file from outside
// after row 3 (as someone else would), and appends rows 4 … 20. What the
// child saw comes back as text; a child killed by a signal is a failure.
struct ShmRun {
    bool exited = false;
    int signal = 0;
    std::string report; // "written=N" and what the listener heard, one per line
};

ShmRun runWithBrokenShm(const std::string& path,
                        const std::function<bool(const std::string&)>& breakShm, bool& broken) {
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(up[0]);
        ::close(down[1]);
        std::string out;
        {
            Journal j(path);
            Told told;
            j.setFailureListener(told.listener());
            for (int i = 1; i <= 3; ++i)
                j.append(scanRow(i));
            char c = 'R';
            if (::write(up[1], &c, 1) != 1 || ::read(down[0], &c, 1) != 1)
                _exit(3);
            int written = 0;
            for (int i = 4; i <= 20; ++i)
                written += j.append(scanRow(i)) ? 1 : 0;
            out = "written=" + std::to_string(written);
            for (const auto& l : told.lines)
                out += "\n" + l;
        }
        const bool sent =
            ::write(up[1], out.data(), out.size()) == static_cast<ssize_t>(out.size());
        _exit(sent ? 0 : 4);
    }
    ::close(up[1]);
    ::close(down[0]);
    char c = 0;
    ShmRun r;
    if (::read(up[0], &c, 1) == 1) {
        broken = breakShm(path + "-shm");
        c = 'G';
        [[maybe_unused]] const ssize_t n = ::write(down[1], &c, 1);
        char buf[4096];
        ssize_t got;
        while ((got = ::read(up[0], buf, sizeof buf)) > 0)
            r.report.append(buf, static_cast<std::size_t>(got));
    }
    ::close(up[0]);
    ::close(down[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return r;
}

bool setImmutable(const std::string& file, bool on) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    // Written back, the mapped pages must fault to be written again.
    ::fsync(fd);
    ::close(fd);
    return ok;
}

} // namespace

// SQLite maps the -shm file; truncated under it, the mapping raises SIGBUS
// at the next touch. The station must live on: the journal is moved aside
// (with every row it had) and a new one takes the events.
TEST(JournalShm, ATruncatedSharedMemoryFileIsToldAndANewJournalTakesTheEvents) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    bool broken = false;
    const ShmRun r = runWithBrokenShm(
        path, [](const std::string& shm) { return ::truncate(shm.c_str(), 0) == 0; }, broken);
    ASSERT_TRUE(broken);
    ASSERT_TRUE(r.exited) << "the journal ended the process (signal " << r.signal << ")";
    std::istringstream lines(r.report);
    std::string written, heard, more;
    std::getline(lines, written);
    std::getline(lines, heard);
    EXPECT_EQ(written, "written=17");
    EXPECT_EQ(heard.rfind("restarted: the journal's shared-memory file " + path +
                              "-shm could not be written; the journal was moved to ",
                          0),
              0u)
        << r.report;
    EXPECT_FALSE(std::getline(lines, more)) << "told once: " << r.report;
    const auto rows = journalRows(path);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].kind + " " + rows[0].what, "journal broken");
    EXPECT_EQ(records(rows), range(4, 20));
    const std::string aside = fileStartingWith(dir.path(), "vexora-journal-broken-");
    ASSERT_EQ(aside, rows[0].subject);
    EXPECT_EQ(records(journalRows(aside)), range(1, 3));
}

// Made immutable (the one way to make a file read-only to root), the -shm
// file faults at the next write to its pages. The journal cannot go on at
// the path while the file stays so: told once, and the station lives on.
TEST(JournalShm, AnImmutableSharedMemoryFileIsToldOnceAndDoesNotEndTheProcess) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    bool broken = false;
    const ShmRun r = runWithBrokenShm(
        path, [](const std::string& shm) { return setImmutable(shm, true); }, broken);
    setImmutable(path + "-shm", false);
    if (!broken)
        GTEST_SKIP() << "no immutable files here (root and ext4, xfs or tmpfs needed)";
    ASSERT_TRUE(r.exited) << "the journal ended the process (signal " << r.signal << ")";
    if (r.report == "written=17")
        GTEST_SKIP() << "this file system lets a mapping write an immutable file (tmpfs does)";
    std::istringstream lines(r.report);
    std::string written, heard, more;
    std::getline(lines, written);
    std::getline(lines, heard);
    EXPECT_EQ(written, "written=0");
    EXPECT_EQ(heard.rfind("cannot write: the journal's shared-memory file " + path +
                              "-shm could not be written; the journal was moved to ",
                          0),
              0u)
        << r.report;
    EXPECT_FALSE(std::getline(lines, more)) << "told once: " << r.report;
    const std::string aside = fileStartingWith(dir.path(), "vexora-journal-broken-");
    ASSERT_FALSE(aside.empty());
    EXPECT_EQ(records(journalRows(aside)), range(1, 3));
}

// ---- the archive ------------------------------------------------------------

TEST(JournalArchive, TheArchiveHoldsEveryEventOfACrashedStationAndTheJournalStartsEmpty) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    crashAfterAppending(path, 5);
    const std::string target = dir.file("2026-12.db");
    EXPECT_EQ(journal::archiveJournal(path, target), 5);

    const auto archived = journalRows(target);
    EXPECT_EQ(records(archived), range(1, 5));
    ASSERT_FALSE(archived.empty());
    EXPECT_EQ(archived.back().kind + " " + archived.back().what, "journal archived");
    EXPECT_EQ(archived.back().subject, target);
    EXPECT_FALSE(std::filesystem::exists(target + "-wal")) << "the archive needs no log";
    EXPECT_TRUE(journalRows(path).empty());
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));

    Journal next(path);
    EXPECT_TRUE(next.append(scanRow(6)));
    EXPECT_EQ(records(journalRows(path)), range(6, 6));
}

TEST(JournalArchive, IsRefusedWhileAStationWritesTheJournalAndNeverReplacesAFile) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    const std::string target = dir.file("archive.db");
    {
        Journal station(path);
        ASSERT_TRUE(station.append(scanRow(1)));
        EXPECT_THROW(journal::archiveJournal(path, target), journal::JournalInUse);
        EXPECT_FALSE(std::filesystem::exists(target));
        EXPECT_TRUE(station.append(scanRow(2)));
        EXPECT_EQ(journalRows(path).size(), 2u) << "nothing written by the refused archive";
    }
    test::writeFile(target, "kept");
    EXPECT_THROW(journal::archiveJournal(path, target), data::DbError);
    EXPECT_EQ(test::readFile(target), "kept");
    EXPECT_EQ(records(journalRows(path)), range(1, 2));
    EXPECT_THROW(journal::archiveJournal(dir.file("none.db"), dir.file("x.db")), data::DbError);
}

// ---- the chain ----------------------------------------------------------------

namespace {

// Runs SQL on a journal file as someone with a database tool would.
void tamper(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    const std::string why = err ? err : "";
    sqlite3_free(err);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << sql << ": " << why;
}

// A journal of six scans, closed (its log folded in).
void sixScans(const std::string& path) {
    Journal j(path);
    for (int i = 1; i <= 6; ++i)
        ASSERT_TRUE(j.append(scanRow(i)));
}

std::string verdict(const journal::ChainCheck& c) {
    using F = journal::ChainCheck::Fault;
    static const std::map<F, std::string> names = {{F::None, "intact"},
                                                   {F::Changed, "changed"},
                                                   {F::Removed, "removed"},
                                                   {F::Inserted, "inserted"},
                                                   {F::NotContinued, "not continued"},
                                                   {F::Unreadable, "unreadable"}};
    return names.at(c.fault) + (c.row ? " " + std::to_string(*c.row) : "");
}

} // namespace

TEST(JournalChainHash, Sha256GivesTheStandardsTestVectorsWhateverPiecesItIsFedIn) {
    using journal::hexDigest;
    EXPECT_EQ(hexDigest(journal::sha256("")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hexDigest(journal::sha256("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first block.
    EXPECT_EQ(
        hexDigest(journal::sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
        "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // A million 'a's in pieces that never line up with the 64-byte blocks.
    journal::Sha256 s;
    const std::string piece(997, 'a');
    std::size_t fed = 0;
    while (fed + piece.size() <= 1'000'000) {
        s.add(piece);
        fed += piece.size();
    }
    s.add(std::string(1'000'000 - fed, 'a'));
    EXPECT_EQ(hexDigest(s.finish()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Each way of editing the file afterwards is caught at the first row it
// touched, and named for what was done to it.
TEST(JournalChain, AnEditedRemovedOrInsertedRowIsNamedAndAnUntouchedJournalIsIntact) {
    struct Case {
        const char* what;
        const char* sql;
        const char* expected;
    } cases[] = {
        {"untouched", "", "intact"},
        {"a code edited", "UPDATE events SET code=X'5658393939' WHERE id=3", "changed 3"},
        {"a verdict edited", "UPDATE events SET what='duplicate' WHERE id=4", "changed 4"},
        {"a time moved", "UPDATE events SET t=t+1 WHERE id=2", "changed 2"},
        {"a code stored as text", "UPDATE events SET code=CAST(code AS TEXT) WHERE id=5",
         "changed 5"},
        {"an empty text where there was none", "UPDATE events SET subject='' WHERE id=1",
         "changed 1"},
        {"a hash removed", "UPDATE events SET hash=NULL WHERE id=4", "changed 4"},
        {"a row deleted", "DELETE FROM events WHERE id=3", "removed 4"},
        {"two rows deleted", "DELETE FROM events WHERE id IN (2,3)", "removed 4"},
        {"the first row deleted", "DELETE FROM events WHERE id=1", "removed 2"},
        {"a row deleted and the rest renumbered",
         "DELETE FROM events WHERE id=3; UPDATE events SET id=id-1 WHERE id>3", "removed 3"},
        {"a row copied in at the end",
         "INSERT INTO events SELECT 7,t,kind,what,record,lo,hi,"
         "labels,code,raw,subject,backend,message,link,hash "
         "FROM events WHERE id=2",
         "removed 7"},
        {"a row copied in between",
         "UPDATE events SET id=id+100 WHERE id>=4; UPDATE events SET id=id-99 WHERE id>=100; "
         "INSERT INTO events SELECT 4,t,kind,what,record,lo,hi,"
         "labels,code,raw,subject,backend,message,link,hash "
         "FROM events WHERE id=2",
         "inserted 4"},
        {"a row without a hash put in between",
         "UPDATE events SET id=id+100 WHERE id>=4; UPDATE events SET id=id-99 WHERE id>=100; "
         "INSERT INTO events(id,t,kind,what,record) VALUES(4,1,'scan','good',99)",
         "inserted 4"},
        {"two rows swapped",
         "UPDATE events SET id=-1 WHERE id=2; UPDATE events SET id=2 WHERE "
         "id=3; UPDATE events SET id=3 WHERE id=-1",
         "inserted 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string path = dir.file(Journal::kFileName);
        sixScans(path);
        if (*c.sql)
            tamper(path, c.sql);
        const journal::ChainCheck check = journal::verifyJournals({path});
        EXPECT_EQ(verdict(check), c.expected) << check.message;
        if (!check.intact()) {
            EXPECT_NE(check.message.find("row " + std::to_string(*check.row)), std::string::npos)
                << check.message;
        }
    }
}

// Archived, the journal's chain goes on in the next file: the archive and
// the journal after it verify as one chain, and neither can stand in for
// another.
TEST(JournalChain, TheChainGoesOnAcrossAnArchiveAndAFileReplacedUnderTheStation) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    const std::string first = dir.file("first.db"), second = dir.file("second.db");
    sixScans(path);
    journal::archiveJournal(path, first);
    {
        Journal j(path);
        ASSERT_TRUE(j.append(scanRow(7)));
        // Moved away under the station: the new file continues its chain.
        std::filesystem::rename(path, second);
        ASSERT_TRUE(j.append(scanRow(8)));
    }
    const auto all = journal::verifyJournals({first, second, path});
    EXPECT_EQ(verdict(all), "intact") << all.message;
    EXPECT_EQ(all.rows, 6 + 1 + 1 + 2) << "the archived row and the replaced note are chained too";
    EXPECT_EQ(all.chained, all.rows);
    ASSERT_EQ(all.files.size(), 3u);
    EXPECT_EQ(all.files[1].continues, "the journal archived to " + first);
    EXPECT_EQ(all.files[2].continues, "the journal " + path + " replaced");
    EXPECT_EQ(verdict(journal::verifyJournals({path})), "intact") << "each file on its own";

    auto skipped = journal::verifyJournals({first, path});
    EXPECT_EQ(verdict(skipped), "not continued");
    EXPECT_EQ(skipped.file, path);
    tamper(first, "DELETE FROM events WHERE id=7");
    EXPECT_EQ(verdict(journal::verifyJournals({first, second})), "not continued")
        << "the archive's last rows cut off";
}

// A journal written before the chain opens as it was: its rows are
// unchained (counted, not verifiable), the rows after them are chained, and
// a hash taken off a chained row does not make it look old.
TEST(JournalChain, AJournalFromBeforeTheChainOpensAndItsOldRowsAreCountedAsUnchained) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    tamper(path, "CREATE TABLE events(id INTEGER PRIMARY KEY, t INTEGER NOT NULL, kind TEXT NOT "
                 "NULL, what TEXT NOT NULL, record INTEGER, lo INTEGER, hi INTEGER, labels "
                 "INTEGER, code BLOB, raw BLOB, subject TEXT, backend TEXT, message TEXT);"
                 "INSERT INTO events(t,kind,what,record) VALUES(1,'scan','good',1),"
                 "(2,'scan','good',2)");
    const auto old = journal::verifyJournals({path});
    EXPECT_EQ(verdict(old), "intact");
    EXPECT_EQ(old.unchained, 2);
    {
        Journal j(path);
        ASSERT_TRUE(j.append(scanRow(3)));
        ASSERT_TRUE(j.append(scanRow(4)));
    }
    EXPECT_EQ(records(journalRows(path)), range(1, 4));
    auto upgraded = journal::verifyJournals({path});
    EXPECT_EQ(verdict(upgraded), "intact") << upgraded.message;
    EXPECT_EQ(upgraded.unchained, 2);
    EXPECT_EQ(upgraded.chained, 2);
    std::ostringstream text;
    journal::writeChainCheck(text, upgraded);
    EXPECT_NE(text.str().find("2 written before the journal kept a chain"), std::string::npos)
        << text.str();

    tamper(path, "UPDATE events SET hash=NULL, link=NULL WHERE id=3");
    EXPECT_EQ(verdict(journal::verifyJournals({path})), "removed 3");
}

// An upgrade cut short after its first column (a second station held the
// lock, the process was killed) is finished by the next open.
TEST(JournalChain, AnUpgradeCutShortBetweenItsColumnsIsFinishedByTheNextOpen) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    tamper(path, "CREATE TABLE events(id INTEGER PRIMARY KEY, t INTEGER NOT NULL, kind TEXT NOT "
                 "NULL, what TEXT NOT NULL, record INTEGER, lo INTEGER, hi INTEGER, labels "
                 "INTEGER, code BLOB, raw BLOB, subject TEXT, backend TEXT, message TEXT);"
                 "INSERT INTO events(t,kind,what,record) VALUES(1,'scan','good',1);"
                 "ALTER TABLE events ADD COLUMN link BLOB");
    {
        Journal j(path);
        ASSERT_TRUE(j.append(scanRow(2)));
    }
    EXPECT_EQ(records(journalRows(path)), range(1, 2));
    const auto check = journal::verifyJournals({path});
    EXPECT_EQ(verdict(check), "intact") << check.message;
    EXPECT_EQ(check.chained, 1);
}

// Two stations on one folder append to one journal in turns: each row is
// hashed on the row before it in the file, whichever station wrote that
// one, so the file still holds one chain.
TEST(JournalChain, TwoStationsAppendingToOneJournalInTurnsLeaveOneChain) {
    test::TempDir dir;
    const std::string path = dir.file(Journal::kFileName);
    { Journal first(path); } // the file made before both start
    int toChild[2], toParent[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(toParent), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        int written = 0;
        {
            Journal j(path);
            char c = 0;
            for (int i = 1; i <= 50 && ::read(toChild[0], &c, 1) == 1; ++i) {
                written += j.append(scanRow(i)) ? 1 : 0;
                if (::write(toParent[1], &c, 1) != 1)
                    break;
            }
        }
        _exit(written == 50 ? 0 : 1);
    }
    int written = 0;
    {
        Journal j(path);
        char c = 'x';
        for (int i = 1001; i <= 1050; ++i) {
            written += j.append(scanRow(i)) ? 1 : 0;
            ASSERT_EQ(::write(toChild[1], &c, 1), 1);
            ASSERT_EQ(::read(toParent[0], &c, 1), 1);
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]})
        ::close(fd);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(written, 50);
    const auto rows = journalRows(path);
    ASSERT_EQ(rows.size(), 100u);
    EXPECT_EQ(rows[0].record, 1001);
    EXPECT_EQ(rows[1].record, 1) << "the two took turns";
    const auto check = journal::verifyJournals({path});
    EXPECT_EQ(verdict(check), "intact") << check.message;
    EXPECT_EQ(check.chained, 100);
}
