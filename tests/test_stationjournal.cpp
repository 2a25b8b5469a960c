// The station window and its journal, offscreen: what the handlers put on
// the journal, and a journal that cannot be written.

#include "data/Sha256.h"
#include "journal/JournalChain.h"
#include "tests/support/Databases.h"
#include "tests/support/Pty.h"
#include "tests/support/StationHarness.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vx;
using app::TForm1;
using test::Pty;
using test::scanText;
using test::StationHarness;
using test::waitFor;
using namespace std::chrono_literals;

namespace {

// "kind what subject | message" of each row of the station's journal.
std::vector<std::string> journalLines(StationHarness& h) {
    std::vector<std::string> out;
    for (const auto& r : test::journalRows(h.dir.file(journal::Journal::kFileName)))
        out.push_back(r.kind + " " + r.what + " " + r.subject +
                      (r.message.empty() ? "" : " | " + r.message));
    return out;
}

} // namespace

TEST(StationJournal, PortDatabaseAndSettingsEventsGoOnTheJournalAndThePasswordNever) {
    auto pty = std::make_unique<Pty>();
    StationHarness h;
    h.seedDatabase({"VX000001", "VX000002"});
    TForm1& f = h.start("[Database]\r\nservername=station.db\r\nmm=s3cret\r\n[com]\r\nnum=" +
                        pty->slavePath() + "\r\n");
    const std::string port = pty->slavePath();
    EXPECT_EQ(journalLines(h),
              (std::vector<std::string>{"port opened " + port, "database opened station.db"}));

    f.ed_strstart->setText("1");
    f.ed_strnum->setText("8");
    f.btn_selN->click();
    f.Edit_mm->setText("topsecret");
    f.btn_databaseset->click();
    pty->closeMaster(); // unplugged
    ASSERT_TRUE(waitFor([&] { return !f.com31.Connected(); }));
    Pty replugged;
    f.Edit_comnum->setText(QString::fromStdString(replugged.slavePath()));
    f.btn_comset->click();

    EXPECT_EQ(journalLines(h), (std::vector<std::string>{
                                   "port opened " + port,
                                   "database opened station.db",
                                   "settings saved [STR] strstart, strnum | strstart=1 strnum=8",
                                   "settings saved [Database] servername, dataname, username, mm | "
                                   "servername=station.db dataname= username=sa",
                                   "database opened station.db",
                                   "port lost " + port,
                                   "settings saved [com] num | num=" + replugged.slavePath(),
                                   "port reconnected " + replugged.slavePath(),
                               }));
    const std::string file = test::readFile(h.dir.file(journal::Journal::kFileName)) +
                             test::readFile(h.dir.file(journal::Journal::kFileName) + "-wal");
    EXPECT_EQ(file.find("topsecret"), std::string::npos);
    EXPECT_EQ(file.find("s3cret"), std::string::npos);
}

TEST(StationJournal, AJournalThatCannotBeWrittenIsShownOnceAndScanningGoesOn) {
    StationHarness h;
    h.seedDatabase({"VX000001", "VX000002", "VX000003"});
    h.config("[Database]\r\nservername=station.db\r\n[STR]\r\nstrstart=1\r\nstrnum=8\r\n");
    // A folder where the journal file would be: no journal can be opened,
    // whoever runs the test.
    ASSERT_EQ(::mkdir(h.dir.file(journal::Journal::kFileName).c_str(), 0700), 0);
    TForm1& f = h.start();
    for (const char* code : {"VX000001", "VX000002", "VX000003", "VX000001"})
        scanText(f, code);
    EXPECT_EQ(f.Label14->text(), "1重复") << "the verdicts come as ever";
    EXPECT_EQ(f.station.counters.total, 4);
    waitFor([] { return false; }, 200ms); // let queued reports arrive
    const QStringList reports = h.dialogs.messages.filter("工作站日志无法写入");
    ASSERT_EQ(reports.size(), 1) << h.dialogs.messages.join("\n").toStdString();
    EXPECT_TRUE(
        reports[0].contains(QString::fromStdString(h.dir.file(journal::Journal::kFileName))));
    EXPECT_GE(f.journal().lost(), 4);
}

// The journal deleted under the running station: the next scan notices,
// the window says so once, and the scans go on into a new journal.
TEST(StationJournal, AJournalDeletedWhileTheStationRunsIsShownOnceAndANewOneTakesTheScans) {
    StationHarness h;
    h.seedDatabase({"VX000001", "VX000002", "VX000003"});
    h.config("[Database]\r\nservername=station.db\r\n[STR]\r\nstrstart=1\r\nstrnum=8\r\n");
    TForm1& f = h.start();
    const std::string path = h.dir.file(journal::Journal::kFileName);
    scanText(f, "VX000001");
    for (const char* part : {"", "-wal", "-shm"})
        ::unlink((path + part).c_str());
    scanText(f, "VX000002");
    scanText(f, "VX000003");
    EXPECT_EQ(f.station.counters.total, 3);
    waitFor([] { return false; }, 200ms); // let queued reports arrive
    const QStringList reports = h.dialogs.messages.filter("已新建日志文件");
    ASSERT_EQ(reports.size(), 1) << h.dialogs.messages.join("\n").toStdString();
    EXPECT_TRUE(reports[0].contains(QString::fromStdString(path)));
    std::vector<std::string> rows;
    for (const auto& r : test::journalRows(path))
        rows.push_back(r.kind + " " + r.what + " " + std::to_string(r.record.value_or(0)));
    EXPECT_EQ(rows, (std::vector<std::string>{"journal replaced 0", "scan good 2", "scan good 3"}));
    // The new file's chain starts from the last hash the station wrote.
    const auto chain = journal::verifyJournals({path});
    EXPECT_TRUE(chain.intact()) << chain.message;
    ASSERT_EQ(chain.files.size(), 1u);
    EXPECT_EQ(chain.files[0].continues, "the journal " + path + " replaced");
    EXPECT_NE(chain.files[0].start, std::string(64, '0'));
}

// Ctrl+R, whichever control has the focus: the shift so far as a page in
// the station's folder, handed to the desktop to open; a second one
// replaces the first.
TEST(StationJournal, CtrlROpensThePageOfTheShiftSoFarFromTheStationsFolder) {
    StationHarness h;
    h.seedDatabase({"VX000001", "VX000002", "VX000003"});
    h.config("[Database]\r\nservername=station.db\r\n[STR]\r\nstrstart=1\r\nstrnum=8\r\n");
    TForm1& f = h.start();
    for (const char* code : {"VX000001", "VX000002", "VX000001", "XX000009"})
        scanText(f, code);
    const std::string page = h.dir.file(TForm1::kShiftReportFile);
    // A window's shortcut is the active window's, as the operator's is.
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.Edit_zheng->setFocus();
    QTest::keyClick(f.Edit_zheng, Qt::Key_R, Qt::ControlModifier);
    ASSERT_EQ(h.opened, QStringList{QString::fromStdString(page)});
    EXPECT_TRUE(h.dialogs.errors.isEmpty()) << h.dialogs.errors.join("\n").toStdString();
    std::string html = test::readFile(page);
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    for (const char* text :
         {"The journal's chain is intact", "扫描 Scans</td><td class=\"n\">4<",
          "<td>重复 duplicate</td><td class=\"n\">1<",
          "<td>无此条码 not found</td><td class=\"n\">1<", "Label database: station.db"})
        EXPECT_NE(html.find(text), std::string::npos) << text << "\n" << html;

    scanText(f, "VX000003");
    f.LB_rec->setFocus();
    QTest::keyClick(f.LB_rec, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(h.opened.size(), 2);
    html = test::readFile(page);
    EXPECT_NE(html.find("扫描 Scans</td><td class=\"n\">5<"), std::string::npos) << html;
}

namespace {

// Stores value in a grid cell as its editor does, and lets the window
// settle.
void gridEdit(TForm1& f, int row, int column, const QString& value) {
    f.DataSource1.setData(f.DataSource1.index(row, column), value, Qt::EditRole);
    QCoreApplication::processEvents();
}

} // namespace

// Every action that changes the labels writes exactly one journal row that
// says what it changed: the imports (file or table, records, texts found
// more than once), a script (file, size, hash of its text, outcome), the
// grid's edits, appends and deletions (record, column, old and new value),
// the pictures, the clear-all and the template chosen.
TEST(StationJournal, EveryActionThatChangesTheLabelsWritesExactlyOneRow) {
    using Answer = app::Dialogs::Answer;
    StationHarness h;
    h.seedDatabase({"VX1", "VX2"});
    const std::string texts = h.dir.file("labels.txt");
    test::writeFile(texts, "A1\r\nA2\r\nA1\r\nA3\r\n");
    const std::string script = h.dir.file("fill.sql");
    const std::string sql = "delete from a14;\r\ninsert into a14 (tt) values ('S1');\r\n";
    test::writeFile(script, sql);
    const std::string broken = h.dir.file("broken.sql");
    test::writeFile(broken, "update nowhere set x=1;\r\n");
    TForm1& f = h.start("[Database]\r\nservername=station.db\r\n");
    const QString q = [](const std::string& s) { return QString::fromStdString(s); }(texts);

    struct Case {
        const char* action;
        std::function<void()> run;
        std::string row;         // "kind what subject | message" of the one row it writes
        std::string detail = {}; // record, range, code and raw where they are set
    };
    const std::string tooLong = h.dir.file("long.txt");
    test::writeFile(tooLong, "B1\r\n" + std::string(31, 'x') + "\r\n");
    const std::vector<Case> cases = {
        {"text import that fails",
         [&] {
             h.dialogs.files = {QString::fromStdString(tooLong)};
             h.dialogs.answers = {Answer::Yes};
             h.dialogs.inputs = {"1"};
             f.btn_txtimport->click();
         },
         // a15 is made anew with the line before the one that failed: a batch
         "data imported " + tooLong +
             " | 1 record(s), the lines before the one that failed: CHECK constraint failed: "
             "length(CAST(tt AS BLOB)) <= 30",
         "a15 1-1 labels 1"},
        {"text import into a15",
         [&] {
             h.dialogs.files = {q};
             h.dialogs.answers = {Answer::Yes};
             h.dialogs.inputs = {"1"};
             f.btn_txtimport->click();
         },
         "data imported " + texts + " | 4 record(s), 1 text(s) found more than once",
         "a15 1-4 labels 4"},
        {"text import into a14",
         [&] {
             h.dialogs.files = {q};
             h.dialogs.answers = {Answer::No};
             h.dialogs.inputs = {"1"};
             f.btn_txtimport->click();
         },
         "data imported " + texts + " | 4 record(s), 1 text(s) found more than once",
         "a14 1-4 labels 4"},
        {"script",
         [&] {
             h.dialogs.files = {QString::fromStdString(script)};
             f.Btn_sqlexec->click();
         },
         "data script " + script + " | " + std::to_string(sql.size()) + " bytes, sha256 " +
             data::sha256Hex(sql),
         "executed"},
        {"script refused by the database",
         [&] {
             h.dialogs.files = {QString::fromStdString(broken)};
             f.Btn_sqlexec->click();
         },
         "data script " + broken + " | 25 bytes, sha256 " +
             data::sha256Hex("update nowhere set x=1;\r\n") + "; no such table: nowhere",
         "failed"},
        {"a15 generated from a14",
         [&] {
             h.dialogs.answers = {Answer::Yes};
             f.btn_localdata->click();
         },
         "data imported a14 | 1 record(s), 0 text(s) found more than once", "a15 1-1 labels 1"},
        {"grid edit", [&] { gridEdit(f, 0, 1, "S1b"); }, "data edited tt | \"S1\" -> \"S1b\"",
         "record 1 code S1b raw S1"},
        {"grid append",
         [&] {
             f.DBGrid_a15show->setCurrentIndex(f.DataSource1.index(0, 1));
             const int row = f.DataSource1.appendPendingRow();
             gridEdit(f, row, 1, "S2");
         },
         "data appended tt | \"S2\"", "record 2 code S2"},
        {"grid deletion",
         [&] {
             f.DBGrid_a15show->setFocus();
             f.DBGrid_a15show->setCurrentIndex(f.DataSource1.index(0, 1));
             h.dialogs.answers = {Answer::Yes};
             QTest::keyClick(f.DBGrid_a15show, Qt::Key_Delete, Qt::ControlModifier);
         },
         "data deleted  | 1|S1b||False", "record 1"},
        {"pictures",
         [&] {
             h.dialogs.files = {"/srv/pics/a_00001.png"};
             f.btn_picset->click();
         },
         "data pictures /srv/pics/a_00001.png | record numbers padded to 5 digit(s)", "pictures"},
        {"template chosen",
         [&] {
             h.dialogs.files = {QString::fromStdString(h.dir.file("label.zpl"))};
             f.btn_btprn->click();
         },
         "settings saved [print] btfile | btfile=" + h.dir.file("label.zpl")},
        {"clear-all",
         [&] {
             h.dialogs.answers = {Answer::Yes};
             f.btn_reprn->click();
         },
         "print reset "},
    };
    const std::string path = h.dir.file(journal::Journal::kFileName);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        const std::size_t before = test::journalRows(path).size();
        c.run();
        EXPECT_TRUE(h.dialogs.answers.empty() && h.dialogs.files.empty()) << "the action ran";
        const auto rows = test::journalRows(path);
        ASSERT_EQ(rows.size(), before + 1) << "exactly one row";
        const auto& r = rows.back();
        EXPECT_EQ(r.kind + " " + r.what + " " + r.subject + (r.message.empty() ? "" : " | ") +
                      r.message,
                  c.row);
        std::string detail = r.backend;
        auto add = [&](const std::string& s) { detail += (detail.empty() ? "" : " ") + s; };
        if (r.record)
            add("record " + std::to_string(*r.record));
        if (r.low)
            add(std::to_string(*r.low) + "-" + std::to_string(r.high.value_or(-1)));
        if (r.labels)
            add("labels " + std::to_string(*r.labels));
        if (r.code)
            add("code " + *r.code);
        if (r.raw)
            add("raw " + *r.raw);
        EXPECT_EQ(detail, c.detail);
    }
    EXPECT_EQ(h.records(), (std::vector<std::string>{"2|S2|/srv/pics/a_00002.png|False"}))
        << "every action did its work";
}

int main(int argc, char** argv) {
    return vx::test::runWindowTests(argc, argv);
}
