// The window's database side, offscreen: the record grid paging into a
// database error, and a database file pulled away while scanning.

#include "scan/ScanEngine.h"
#include "tests/support/Databases.h"
#include "tests/support/Pty.h"
#include "tests/support/StationHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

using namespace vx;
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

int main(int argc, char** argv) {
    return vx::test::runWindowTests(argc, argv);
}
