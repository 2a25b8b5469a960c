// The window's database side, offscreen: the record grid paging into a
// database error, a database file pulled away while scanning, and the file
// dialogs beside the files SQLite keeps locked.

#include "scan/ScanEngine.h"
#include "tests/support/Databases.h"
#include "tests/support/Processes.h"
#include "tests/support/Pty.h"
#include "tests/support/StationHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vx;
using app::StationControls;
using app::TForm1;
using vx::test::Pty;
using vx::test::StationHarness;
using vx::test::waitFor;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> labels(int n) {
    std::vector<std::string> out;
    char buf[16];
    for (int i = 1; i <= n; ++i) {
        std::snprintf(buf, sizeof buf, "VX%06d", i);
        out.emplace_back(buf);
    }
    return out;
}

// A station with records VX000001 … on its database and the scanner on pty.
struct ScanningStation {
    explicit ScanningStation(int records) {
        h.seedDatabase(labels(records));
        h.config("[Database]\r\nservername=station.db\r\n[com]\r\nnum=" + pty.slavePath() +
                 "\r\n[STR]\r\nstrstart=1\r\nstrnum=8\r\n");
    }
    Pty pty;
    StationHarness h;
};

void removeDatabaseFile(StationHarness& h) {
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(h.dir.file(std::string("station.db") + suffix));
}

// "what message" of the journal's database rows.
std::vector<std::string> databaseJournal(StationHarness& h) {
    std::vector<std::string> out;
    for (const auto& row : vx::test::journalRows(h.dir.file(journal::Journal::kFileName),
                                                 journal::JournalWords::Database))
        out.push_back(row.what + (row.message.empty() ? "" : " " + row.message));
    return out;
}

// Every caption and enabled state says the database is closed.
void expectDatabaseShownClosed(TForm1& f) {
    EXPECT_FALSE(f.ADO1.connected());
    EXPECT_EQ(f.btn_databaseset->palette().color(QPalette::ButtonText), app::kBlack);
    EXPECT_FALSE(f.chk_start->isEnabled());
    for (QPushButton* b :
         {f.btn_txtimport, f.btn_localdata, f.Btn_sqlexec, f.btn_picset, f.btn_datato, f.btn_reprn})
        EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
}

// The process that holds a POSIX lock on path (0: none, -1: the question
// failed). Asked from a child process: a process never sees its own locks
// as standing in its way.
pid_t lockHolder(const std::string& path) {
    int answer[2];
    if (::pipe(answer) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        // Only async-signal-safe calls here: the parent runs threads.
        pid_t holder = -1;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET; // the whole file
        if (fd >= 0 && ::fcntl(fd, F_GETLK, &lock) == 0)
            holder = lock.l_type == F_UNLCK ? 0 : lock.l_pid;
        [[maybe_unused]] const auto n = ::write(answer[1], &holder, sizeof holder);
        ::_exit(0);
    }
    ::close(answer[1]);
    pid_t holder = -1;
    if (child < 0 || ::read(answer[0], &holder, sizeof holder) != sizeof holder)
        holder = -1;
    ::close(answer[0]);
    if (child > 0)
        ::waitpid(child, nullptr, 0);
    return holder;
}

// A second program on a database file of the folder: the sqlite3 shell,
// which opens the file, runs the statement and closes it again.
std::string sqliteShell(StationHarness& h, const std::string& file, const std::string& sql) {
    int rc = 0;
    const std::string out =
        test::run("sqlite3 '" + h.dir.file(file) + "' \"" + sql + "\" 2>&1", &rc);
    return rc == 0 ? out : "exit " + std::to_string(rc) + ": " + out;
}

} // namespace

TEST(RecordGrid, AnErrorWhilePagingIsReportedOnceAndScanningGoesOn) {
    ScanningStation st(1000);
    StationHarness& h = st.h;
    Pty& pty = st.pty;
    TForm1& f = h.start();
    f.chk_start->setChecked(true);
    const int shown = f.DataSource1.rowCount();
    ASSERT_GT(shown, 0);
    ASSERT_LT(shown, 1000) << "the grid reads a page at a time";

    h.sql("ALTER TABLE a15 RENAME TO a15x");
    for (int i = 0; i < 3; ++i) {
        f.DBGrid_a15show->scrollToBottom();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(h.dialogs.errors.size(), 1) << "the general error report, once";
    EXPECT_EQ(f.DataSource1.rowCount(), shown) << "the grid keeps what it shows";

    h.sql("ALTER TABLE a15x RENAME TO a15");
    pty.write("VX000001");
    ASSERT_TRUE(waitFor([&] { return f.LB_rec->count() == 1; }));
    EXPECT_EQ(f.Label14->text(), "1");
}

TEST(LostDatabase, ADeletedDatabaseFileClosesTheConnectionOnTheWindow) {
    ScanningStation st(5);
    StationHarness& h = st.h;
    Pty& pty = st.pty;
    TForm1& f = h.start();
    ASSERT_EQ(f.btn_databaseset->palette().color(QPalette::ButtonText), app::kGreen);
    f.chk_start->setChecked(true);
    pty.write("VX000001");
    ASSERT_TRUE(waitFor([&] { return f.LB_rec->count() == 1; }));

    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(h.dir.file(std::string("station.db") + suffix));
    pty.write("VX000002");
    ASSERT_TRUE(waitFor([&] { return f.Lb_cuo->count() == 1; }));
    EXPECT_EQ(f.Label14->text(), QString::fromUtf8(scan::kDatabaseLostText));
    EXPECT_EQ(f.btn_zongji->text(), "1") << "not counted";
    EXPECT_EQ(f.btn_databaseset->palette().color(QPalette::ButtonText), app::kBlack);
    EXPECT_FALSE(f.chk_start->isEnabled());
    EXPECT_FALSE(f.btn_txtimport->isEnabled());
    EXPECT_FALSE(f.ADO1.connected());

    // Reconnecting makes a new database file; comparison may start again.
    h.seedDatabase(labels(5));
    f.btn_databaseset->click();
    EXPECT_EQ(f.btn_databaseset->palette().color(QPalette::ButtonText), app::kGreen);
    EXPECT_TRUE(f.chk_start->isEnabled());
}

TEST(LostDatabase, AnActionOutsideAScanThatFindsTheFileGoneShowsTheConnectionClosed) {
    ScanningStation st(5);
    StationHarness& h = st.h;
    TForm1& f = h.start();
    ASSERT_TRUE(f.chk_start->isEnabled());
    removeDatabaseFile(h);

    h.dialogs.files = {QString::fromStdString(h.dir.file("out.txt"))};
    f.btn_datato->click();
    ASSERT_EQ(h.dialogs.errors.size(), 1);
    EXPECT_TRUE(h.dialogs.errors[0].startsWith(QString::fromUtf8(app::kDatabaseLostText)))
        << h.dialogs.errors[0].toStdString();
    EXPECT_FALSE(std::filesystem::exists(h.dir.file("out.txt")));
    expectDatabaseShownClosed(f);
    const auto rows = databaseJournal(h);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].rfind("lost The database file", 0), 0u) << rows[1];

    // Reconnecting brings everything back.
    h.seedDatabase(labels(5));
    f.btn_databaseset->click();
    EXPECT_TRUE(TForm1::isGreen(f.btn_databaseset));
    EXPECT_TRUE(f.chk_start->isEnabled());
    EXPECT_TRUE(f.btn_datato->isEnabled());
}

TEST(LostDatabase, PagingTheGridIntoAGoneFileReportsItAfterThePagingAndShowsTheConnectionClosed) {
    ScanningStation st(1000);
    StationHarness& h = st.h;
    TForm1& f = h.start();
    const int shown = f.DataSource1.rowCount();
    ASSERT_TRUE(f.DataSource1.canFetchMore({}));
    removeDatabaseFile(h);

    // Qt calls fetchMore from the view's own layout and paint paths: no box
    // may open inside it.
    f.DataSource1.fetchMore({});
    EXPECT_TRUE(h.dialogs.errors.isEmpty()) << "not from inside the fetch";
    ASSERT_TRUE(waitFor([&] { return h.dialogs.errors.size() == 1; }));
    EXPECT_TRUE(h.dialogs.errors[0].startsWith(QString::fromUtf8(app::kDatabaseLostText)))
        << h.dialogs.errors[0].toStdString();
    EXPECT_EQ(f.DataSource1.rowCount(), shown) << "the grid keeps what it shows";
    expectDatabaseShownClosed(f);
    EXPECT_EQ(databaseJournal(h).back().rfind("lost ", 0), 0u);

    // An edit on what is still shown is refused, reported once, and changes
    // no state.
    h.dialogs.errors.clear();
    EXPECT_FALSE(f.DataSource1.setData(f.DataSource1.index(0, 1), "EDIT", Qt::EditRole));
    ASSERT_TRUE(waitFor([&] { return h.dialogs.errors.size() == 1; }));
    expectDatabaseShownClosed(f);
}

// On POSIX, closing any descriptor of a file drops every lock the process
// holds on it: a file dialog that read station.db, its -shm or the journal
// to guess their type would leave SQLite believing it still held them, and
// the next program to close the database would delete the log the station
// still writes to.
TEST(FileDialogs, NoDialogCostsTheStationItsLocksOrItsLogs) {
    // 导出, 执行SQL, 文本数据导入, 选择BT模板, 设置图片: each opened and cancelled
    // on a station of its own.
    for (QPushButton* StationControls::*button :
         {&StationControls::btn_datato, &StationControls::Btn_sqlexec,
          &StationControls::btn_txtimport, &StationControls::btn_btprn,
          &StationControls::btn_picset}) {
        ScanningStation st(5);
        StationHarness& h = st.h;
        // Something for each dialog's filter to show beside the station's files.
        for (const char* name : {"labels.txt", "fix.sql", "p_00001.png", "label.zpl"})
            test::writeFile(h.dir.file(name), "x");
        h.dialogs.realFileDialogs = true;
        // Whichever folder a dialog opens in, the operator may go to the
        // station's.
        const QString folder = QDir(QString::fromStdString(h.dir.path())).absolutePath();
        h.dialogs.fileDialogFolder = folder;
        TForm1& f = h.start();
        SCOPED_TRACE((f.*button)->text().toStdString());
        ASSERT_TRUE(f.ADO1.connected());
        const std::vector<std::string> locked = {"station.db", "station.db-shm",
                                                 journal::Journal::kFileName,
                                                 std::string(journal::Journal::kFileName) + "-shm"};
        for (const std::string& file : locked)
            ASSERT_EQ(lockHolder(h.dir.file(file)), ::getpid()) << file << " before the dialog";

        (f.*button)->click();
        EXPECT_EQ(h.dialogs.fileDialogs, QStringList{"选择文件|" + folder});
        EXPECT_TRUE(h.dialogs.errors.isEmpty()) << h.dialogs.errors.join("\n").toStdString();
        for (const std::string& file : locked)
            EXPECT_EQ(lockHolder(h.dir.file(file)), ::getpid()) << file << " after the dialog";

        // A second program opens and closes each file: it must find that it
        // is not the last user, and leave the logs to the station.
        EXPECT_EQ(sqliteShell(h, "station.db", "select count(*) from a15"), "5\n");
        EXPECT_EQ(sqliteShell(h, journal::Journal::kFileName, "select count(*) > 0 from events"),
                  "1\n");
        EXPECT_TRUE(std::filesystem::exists(h.dir.file("station.db-wal")));
        EXPECT_TRUE(
            std::filesystem::exists(h.dir.file(std::string(journal::Journal::kFileName) + "-wal")));

        // The next good scan is in the files everyone else reads.
        test::scanText(f, "VX000002");
        EXPECT_EQ(f.Label14->text(), "2");
        EXPECT_EQ(sqliteShell(h, "station.db", "select prned from a15 where bh=2"), "1\n");
        EXPECT_EQ(sqliteShell(h, journal::Journal::kFileName,
                              "select count(*) from events where kind='scan' and record=2"),
                  "1\n");
    }
}

TEST(FileDialogs, AFileTheStationKeepsOpenIsNeitherImportedNorRunAsAScript) {
    ScanningStation st(5);
    StationHarness& h = st.h;
    TForm1& f = h.start();
    const auto before = h.records();
    for (const std::string& name :
         {std::string("station.db"), std::string("station.db-wal"), std::string("station.db-shm"),
          std::string(journal::Journal::kFileName) + "-shm"}) {
        SCOPED_TRACE(name);
        for (QPushButton* button : {f.btn_txtimport, f.Btn_sqlexec}) {
            h.dialogs.messages.clear();
            h.dialogs.files = {QString::fromStdString(h.dir.file(name))};
            h.dialogs.answers = {app::Dialogs::Answer::Yes}; // into a15
            h.dialogs.inputs = {"1"};
            button->click();
            EXPECT_EQ(h.dialogs.messages, QStringList{QString::fromUtf8(app::kFileInUseText)})
                << button->text().toStdString();
            for (const char* file : {"station.db", "station.db-shm"})
                EXPECT_EQ(lockHolder(h.dir.file(file)), ::getpid()) << file;
        }
    }
    EXPECT_TRUE(h.dialogs.errors.isEmpty()) << h.dialogs.errors.join("\n").toStdString();
    EXPECT_EQ(h.records(), before);
}

int main(int argc, char** argv) {
    return vx::test::runWindowTests(argc, argv);
}
