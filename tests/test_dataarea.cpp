// The window's data area, offscreen: rebuilding a15 from a14, SQL scripts,
// the export and the record grid, each driven through its control.

#include "tests/support/StationHarness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

using namespace vx;
using app::Dialogs;
using app::TForm1;
using vx::test::StationHarness;

namespace {

const std::string kConfig = "[Database]\r\nservername=station.db\r\n";

// A station whose a15 holds the given texts, started on its database.
TForm1& startStation(StationHarness& h) {
    TForm1& f = h.start(kConfig);
    h.dialogs.messages.clear();
    return f;
}

TForm1& startWith(StationHarness& h, const std::vector<std::string>& a15) {
    h.seedDatabase(a15);
    return startStation(h);
}

void fillA14(StationHarness& h, const std::vector<std::string>& texts) {
    h.sql("drop table if exists a14");
    h.sql("create table a14(bh integer primary key autoincrement, tt varchar(30), "
          "pic varchar(90), prned bit default 0)");
    for (const auto& t : texts)
        h.sql("insert into a14 (tt) values ('" + t + "')");
}

QString cell(TForm1& f, int row, int column) {
    return f.DataSource1.data(f.DataSource1.index(row, column), Qt::DisplayRole).toString();
}

QString header(TForm1& f, int column) {
    return f.DataSource1.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
}

bool gridShowsTableWidths(TForm1& f) {
    const int widths[] = {45, 140, 45, 30};
    for (int i = 0; i < 4; ++i)
        if (f.DBGrid_a15show->columnWidth(i) != widths[i])
            return false;
    return true;
}

} // namespace

// ---- 本机附表导入 --------------------------------------------------------------

TEST(StagingImportAction, AnsweringNoChangesNothing) {
    StationHarness h;
    TForm1& f = startWith(h, {"KEEP"});
    fillA14(h, {"NEW"});
    h.dialogs.answers = {Dialogs::Answer::No};
    f.btn_localdata->click();
    EXPECT_EQ(h.records(), std::vector<std::string>{"1|KEEP|NULL|False"});
    EXPECT_TRUE(h.dialogs.messages.isEmpty());
    EXPECT_TRUE(h.dialogs.errors.isEmpty());
}

TEST(StagingImportAction, RebuildsA15FromA14AndShowsItInTheGrid) {
    StationHarness h;
    TForm1& f = startWith(h, {"OLD1", "OLD2", "OLD3"});
    h.sql("update a15 set prned=1, pic='x.jpg'");
    fillA14(h, {"S1", "S2"});
    TForm1::setCaptionColour(f.btn_picset, app::kGreen);
    h.dialogs.answers = {Dialogs::Answer::Yes};
    f.btn_localdata->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"生成成功!"});
    EXPECT_EQ(h.records(), (std::vector<std::string>{"1|S1||False", "2|S2||False"}));
    EXPECT_EQ(f.DataSource1.rowCount(), 2);
    EXPECT_EQ(cell(f, 1, 1), "S2");
    EXPECT_TRUE(gridShowsTableWidths(f));
    EXPECT_FALSE(TForm1::isGreen(f.btn_picset));
}

TEST(StagingImportAction, AnEmptyA14GivesAnEmptyA15AndTheGridOnIt) {
    StationHarness h;
    TForm1& f = startWith(h, {"OLD"});
    fillA14(h, {});
    h.dialogs.answers = {Dialogs::Answer::Yes};
    f.btn_localdata->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"生成成功!"});
    EXPECT_TRUE(h.records().empty());
    EXPECT_EQ(f.DataSource1.rowCount(), 0);
    EXPECT_EQ(f.DataSource1.columnCount(), 4);
}

TEST(StagingImportAction, DuplicatesAreReportedAfterSuccessAndListedInTheGrid) {
    StationHarness h;
    TForm1& f = startWith(h, {"OLD"});
    fillA14(h, {"D1", "X", "D1"});
    h.dialogs.answers = {Dialogs::Answer::Yes};
    f.btn_localdata->click();
    EXPECT_EQ(h.dialogs.messages, (QStringList{"生成成功!", "数据有重复，见数据表格"}));
    ASSERT_EQ(f.DataSource1.columnCount(), 3);
    EXPECT_EQ(header(f, 0), "tt");
    EXPECT_EQ(header(f, 1), "ge");
    EXPECT_EQ(cell(f, 0, 0), "D1");
    EXPECT_EQ(cell(f, 0, 1), "2");
    EXPECT_EQ(h.records().size(), 3u);
}

TEST(StagingImportAction, AMissingA14LeavesA15AsItWasAndIsReported) {
    StationHarness h;
    TForm1& f = startWith(h, {"KEEP1", "KEEP2"});
    h.sql("update a15 set prned=1, pic='k.jpg' where bh=2");
    TForm1::setCaptionColour(f.btn_picset, app::kGreen);
    h.dialogs.answers = {Dialogs::Answer::Yes};
    f.btn_localdata->click();
    EXPECT_EQ(h.dialogs.errors.size(), 1) << "the general error report";
    EXPECT_TRUE(h.dialogs.messages.isEmpty()) << "no 生成成功!";
    EXPECT_EQ(h.records(), (std::vector<std::string>{"1|KEEP1|NULL|False", "2|KEEP2|k.jpg|True"}));
    EXPECT_EQ(f.DataSource1.rowCount(), 2) << "the grid still shows the records";
    EXPECT_TRUE(TForm1::isGreen(f.btn_picset)) << "the pictures are still assigned";
}

// ---- 执行SQL -----------------------------------------------------------------------

namespace {
// Runs the script file holding bytes through 执行SQL.
void runScript(StationHarness& h, TForm1& f, const std::string& bytes) {
    test::writeFile(h.dir.file("script.sql"), bytes);
    h.dialogs.files = {QString::fromStdString(h.dir.file("script.sql"))};
    f.Btn_sqlexec->click();
}
} // namespace

TEST(SqlScriptAction, CancelRunsNothing) {
    StationHarness h;
    TForm1& f = startWith(h, {"KEEP"});
    f.Btn_sqlexec->click();
    EXPECT_TRUE(h.dialogs.messages.isEmpty());
    EXPECT_TRUE(h.dialogs.errors.isEmpty());
}

TEST(SqlScriptAction, AnLfOnlyScriptIsSentWithCrLfAndTheGridShowsA15) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1"});
    f.DataSource1.clear();
    runScript(h, f, "insert into a15 (tt) values ('X\nY');\nupdate a15 set prned=1 where bh=1;\n");
    EXPECT_EQ(h.dialogs.messages, QStringList{"已执行！"});
    EXPECT_EQ(f.ADOCommand1.text(),
              "insert into a15 (tt) values ('X\r\nY');\r\nupdate a15 set prned=1 where bh=1;\r\n");
    EXPECT_EQ(h.records(), (std::vector<std::string>{"1|A1|NULL|True", "2|X\r\nY|NULL|False"}));
    EXPECT_EQ(f.DataSource1.rowCount(), 2);
    EXPECT_TRUE(gridShowsTableWidths(f));
}

TEST(SqlScriptAction, AByteOrderMarkIsSentAsItIs) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1"});
    runScript(h, f, "\xEF\xBB\xBFinsert into a15 (tt) values ('B');\r\n");
    EXPECT_EQ(f.ADOCommand1.text(), "\xEF\xBB\xBFinsert into a15 (tt) values ('B');\r\n");
    // SQLite passes over the mark.
    EXPECT_EQ(h.dialogs.messages, QStringList{"已执行！"});
    EXPECT_EQ(h.records().back(), "2|B|NULL|False");
}

TEST(SqlScriptAction, ColonsInQuotesAreSentUnchangedAndAMarkerOutsideIsAnError) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1"});
    runScript(h, f, "insert into a15 (tt) values ('12:30:59');\n");
    EXPECT_EQ(h.dialogs.messages, QStringList{"已执行！"});
    EXPECT_EQ(h.records().back(), "2|12:30:59|NULL|False");

    h.dialogs.messages.clear();
    runScript(h, f, "insert into a15 (tt) values (:t);\n");
    EXPECT_EQ(h.dialogs.errors.size(), 1) << "a parameter the script gives no value";
    EXPECT_TRUE(h.dialogs.messages.isEmpty());
    EXPECT_EQ(h.records().size(), 2u);
}

TEST(SqlScriptAction, ScriptThatFillsA14WithASelectInTheMiddleRunsEveryStatement) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1"});
    runScript(h, f,
              "create table a14(bh integer primary key autoincrement, tt varchar(30), "
              "pic varchar(90), prned bit default 0);\n"
              "select * from a15;\n"
              "insert into a14 (tt) values ('S1');\n"
              "insert into a14 (tt) values ('S2');\n");
    EXPECT_EQ(h.dialogs.messages, QStringList{"已执行！"});
    EXPECT_EQ(h.records("a14"), (std::vector<std::string>{"1|S1|NULL|False", "2|S2|NULL|False"}));
}

TEST(SqlScriptAction, AScriptDroppingA15StillEndsWithExecutedAndAnEmptyGrid) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1", "A2"});
    ASSERT_EQ(f.DataSource1.rowCount(), 2);
    runScript(h, f, "drop table a15;\n");
    EXPECT_EQ(h.dialogs.messages, QStringList{"已执行！"});
    EXPECT_TRUE(h.dialogs.errors.isEmpty()) << "the grid's refresh swallows its error";
    EXPECT_EQ(f.DataSource1.rowCount(), 0);
}

TEST(SqlScriptAction, AFileThatCannotBeReadIsReportedAndRunsNothing) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1"});
    h.dialogs.files = {QString::fromStdString(h.dir.file("missing.sql"))};
    f.Btn_sqlexec->click();
    EXPECT_EQ(h.dialogs.errors.size(), 1);
    EXPECT_TRUE(h.dialogs.messages.isEmpty());
}

// ---- 导出 --------------------------------------------------------------------------

namespace {
// Exports through 导出 to name in the station folder, with the rg1 item
// (-1: none) selected.
std::string exportTo(StationHarness& h, TForm1& f, const std::string& name, int item = -1) {
    if (item >= 0)
        f.rg1Items->button(item)->setChecked(true);
    h.dialogs.files = {QString::fromStdString(h.dir.file(name))};
    f.btn_datato->click();
    return test::readFile(h.dir.file(name));
}

TForm1& stationToExport(StationHarness& h) {
    TForm1& f = startWith(h, {"AB12", "CD34", "EF56"});
    h.sql("update a15 set pic='' where bh=2");
    h.sql("update a15 set prned=1, pic='p_3.jpg' where bh=3");
    return f;
}
} // namespace

TEST(ExportAction, WithNoItemSelectedEveryRecordIsExported) {
    StationHarness h;
    TForm1& f = stationToExport(h);
    EXPECT_EQ(exportTo(h, f, "all.txt"),
              "1,AB12,,False,\r\n2,CD34,,False,\r\n3,EF56,p_3.jpg,True,\r\n")
        << "a NULL and an empty pic give the same line";
    EXPECT_EQ(h.dialogs.messages, QStringList{"已导出"});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor is gone";
}

TEST(ExportAction, TheSelectedItemPicksUnscannedOrScanned) {
    StationHarness h;
    TForm1& f = stationToExport(h);
    EXPECT_EQ(exportTo(h, f, "u.txt", 0), "1,AB12,,False,\r\n2,CD34,,False,\r\n");
    EXPECT_EQ(exportTo(h, f, "s.txt", 1), "3,EF56,p_3.jpg,True,\r\n");
}

TEST(ExportAction, AnExistingFileIsRefusedAndLeftUntouched) {
    StationHarness h;
    TForm1& f = stationToExport(h);
    test::writeFile(h.dir.file("old.txt"), "keep");
    EXPECT_EQ(exportTo(h, f, "old.txt"), "keep");
    EXPECT_EQ(h.dialogs.messages, QStringList{"文件已经存在，请更改一个新名"});
}

TEST(ExportAction, NoMatchingRecordShowsAMessageAndCreatesNoFile) {
    StationHarness h;
    TForm1& f = startWith(h, {"AB12"});
    exportTo(h, f, "none.txt", 1);
    EXPECT_EQ(h.dialogs.messages, QStringList{"没有找到记录"});
    EXPECT_FALSE(std::filesystem::exists(h.dir.file("none.txt")));
}

TEST(ExportAction, CancelExportsNothing) {
    StationHarness h;
    TForm1& f = stationToExport(h);
    f.btn_datato->click();
    EXPECT_TRUE(h.dialogs.messages.isEmpty());
}

TEST(ExportAction, AMissingA15IsReportedWithNoFileAndTheNormalCursor) {
    StationHarness h;
    TForm1& f = stationToExport(h);
    h.sql("drop table a15");
    exportTo(h, f, "x.txt");
    EXPECT_EQ(h.dialogs.errors.size(), 1);
    EXPECT_FALSE(std::filesystem::exists(h.dir.file("x.txt")));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// ---- the record grid -----------------------------------------------------------------

namespace {
// Stores value in a cell as the grid's editor does; what the edit reports
// is shown once the editor has gone, so the events run before it returns.
bool edit(TForm1& f, int row, int column, const QString& value) {
    const bool stored =
        f.DataSource1.setData(f.DataSource1.index(row, column), value, Qt::EditRole);
    QCoreApplication::processEvents();
    return stored;
}
} // namespace

TEST(RecordGrid, AnEditReachesTheDatabase) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1", "A2"});
    EXPECT_TRUE(edit(f, 1, 1, "B2"));
    EXPECT_TRUE(edit(f, 1, 2, "p.jpg"));
    EXPECT_TRUE(edit(f, 0, 3, "True"));
    EXPECT_EQ(h.records(), (std::vector<std::string>{"1|A1|NULL|True", "2|B2|p.jpg|False"}));
    EXPECT_EQ(cell(f, 1, 1), "B2");
    EXPECT_EQ(cell(f, 0, 3), "True");
    EXPECT_TRUE(h.dialogs.errors.isEmpty());
}

TEST(RecordGrid, TypingInACellChangesTheRecord) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1"});
    QTableView* grid = f.DBGrid_a15show;
    const QModelIndex at = f.DataSource1.index(0, 1);
    grid->setCurrentIndex(at);
    grid->edit(at);
    auto* editor = grid->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr) << "an editor opened on the cell";
    EXPECT_EQ(editor->text(), "A1");
    editor->selectAll();
    QTest::keyClicks(editor, "TYPED");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the editor commits on the next turn
    EXPECT_EQ(h.records(), std::vector<std::string>{"1|TYPED|NULL|False"});
    EXPECT_EQ(cell(f, 0, 1), "TYPED");
}

TEST(RecordGrid, ARefusedEditIsReportedAndTheGridShowsWhatIsStored) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1", "A2"});
    EXPECT_FALSE(edit(f, 0, 1, QString(31, 'x'))) << "tt holds 30 bytes";
    EXPECT_EQ(h.dialogs.errors.size(), 1);
    EXPECT_EQ(cell(f, 0, 1), "A1");
    EXPECT_FALSE(edit(f, 0, 3, "maybe")) << "prned is True or False";
    EXPECT_EQ(h.dialogs.errors.size(), 2);
    EXPECT_EQ(cell(f, 0, 3), "False");
    EXPECT_EQ(h.records(), (std::vector<std::string>{"1|A1|NULL|False", "2|A2|NULL|False"}));
}

TEST(RecordGrid, AnEditOfARecordDeletedMeanwhileIsReportedAndTheRowLeavesTheGrid) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1", "A2"});
    h.sql("delete from a15 where bh=1");
    EXPECT_FALSE(edit(f, 0, 1, "B1"));
    EXPECT_EQ(h.dialogs.errors.size(), 1);
    EXPECT_EQ(h.records(), std::vector<std::string>{"2|A2|NULL|False"});
    ASSERT_EQ(f.DataSource1.rowCount(), 1);
    EXPECT_EQ(cell(f, 0, 1), "A2");
}

TEST(RecordGrid, TheRecordNumberIsTheServersAndCannotBeEdited) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1"});
    EXPECT_FALSE(f.DataSource1.flags(f.DataSource1.index(0, 0)) & Qt::ItemIsEditable);
    EXPECT_TRUE(f.DataSource1.flags(f.DataSource1.index(0, 1)) & Qt::ItemIsEditable);
}

TEST(RecordGrid, ADeletionAsksFirstAndOnlyYesDeletes) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1", "A2", "A3"});
    QTableView* grid = f.DBGrid_a15show;
    grid->setFocus();
    grid->setCurrentIndex(f.DataSource1.index(1, 1));
    h.dialogs.answers = {Dialogs::Answer::No};
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_TRUE(h.dialogs.answers.empty()) << "Delete record? was asked";
    EXPECT_EQ(h.records().size(), 3u);
    EXPECT_EQ(f.DataSource1.rowCount(), 3);

    h.dialogs.answers = {Dialogs::Answer::Yes};
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(h.records(), (std::vector<std::string>{"1|A1|NULL|False", "3|A3|NULL|False"}));
    ASSERT_EQ(f.DataSource1.rowCount(), 2);
    EXPECT_EQ(cell(f, 1, 1), "A3");
}

TEST(RecordGrid, AnAppendedRowBecomesARecordWithTheNextNumber) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1", "A2"});
    QTableView* grid = f.DBGrid_a15show;
    grid->setFocus();
    grid->setCurrentIndex(f.DataSource1.index(1, 1));
    QTest::keyClick(grid, Qt::Key_Down); // past the last row: a new one
    ASSERT_EQ(f.DataSource1.rowCount(), 3);
    EXPECT_EQ(h.records().size(), 2u) << "nothing is stored before a value is entered";
    EXPECT_TRUE(edit(f, 2, 1, "A3"));
    EXPECT_EQ(h.records().back(), "3|A3|NULL|False");
    EXPECT_EQ(cell(f, 2, 0), "3");
    EXPECT_EQ(cell(f, 2, 3), "False") << "the grid shows the stored defaults";
}

TEST(RecordGrid, AnAppendedRowLeftEmptyIsDropped) {
    StationHarness h;
    TForm1& f = startWith(h, {"A1"});
    QTableView* grid = f.DBGrid_a15show;
    grid->setFocus();
    grid->setCurrentIndex(f.DataSource1.index(0, 1));
    QTest::keyClick(grid, Qt::Key_Down);
    ASSERT_EQ(f.DataSource1.rowCount(), 2);
    QTest::keyClick(grid, Qt::Key_Up);
    EXPECT_EQ(f.DataSource1.rowCount(), 1);
    EXPECT_EQ(h.records().size(), 1u);
}

TEST(RecordGrid, ARowAppendedBeforeEveryPageIsReadStaysLastAndNoRecordShowsTwice) {
    StationHarness h;
    h.seedDatabase({});
    h.sql("with recursive n(i) as (select 1 union all select i+1 from n where i<300) "
          "insert into a15 (tt) select 'T'||i from n");
    TForm1& f = startStation(h);
    const int firstPage = f.DataSource1.rowCount();
    ASSERT_LT(firstPage, 300);
    // Appended while the view has not scrolled on: the later pages are unread.
    ASSERT_EQ(f.DataSource1.appendPendingRow(), firstPage);
    EXPECT_TRUE(edit(f, firstPage, 1, "NEW"));
    EXPECT_EQ(cell(f, firstPage, 0), "301");
    while (f.DataSource1.canFetchMore({}))
        f.DataSource1.fetchMore({});
    ASSERT_EQ(f.DataSource1.rowCount(), 301);
    for (int row = 0; row < 301; ++row)
        ASSERT_EQ(cell(f, row, 0), QString::number(row + 1)) << "row " << row;
    EXPECT_EQ(cell(f, 300, 1), "NEW");
}

TEST(RecordGrid, ALargeTableOpensWithOnlyAPageRead) {
    StationHarness h;
    h.seedDatabase({});
    h.sql("with recursive n(i) as (select 0 union all select i+1 from n where i<4999) "
          "insert into a15 (tt) select 'T'||i from n");
    TForm1& f = startStation(h);
    EXPECT_GT(f.DataSource1.rowCount(), 0);
    EXPECT_LT(f.DataSource1.rowCount(), 5000);
    f.DBGrid_a15show->scrollToBottom();
    while (f.DataSource1.canFetchMore({}))
        f.DataSource1.fetchMore({});
    EXPECT_EQ(f.DataSource1.rowCount(), 5000);
    EXPECT_EQ(cell(f, 4999, 1), "T4999");
}

int main(int argc, char** argv) {
    return vx::test::runWindowTests(argc, argv);
}
