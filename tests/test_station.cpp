// The station window, offscreen: start-up, the port and field settings, the
// database settings and live scanning through a pseudo-terminal.

#include "data/Database.h"
#include "tests/support/Pty.h"
#include "tests/support/RefusedPort.h"
#include "tests/support/StationHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTextLayout>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vx;
using app::TForm1;
using vx::test::Pty;
using vx::test::scanText;
using vx::test::StationHarness;
using vx::test::waitFor;
using namespace std::chrono_literals;

namespace {

std::string dbConfig(const std::string& port = "") {
    std::string s = "[Database]\r\nservername=station.db\r\n";
    if (!port.empty())
        s += "[com]\r\nnum=" + port + "\r\n";
    return s;
}

bool dataButtonsEnabled(TForm1& f) {
    for (QPushButton* b :
         {f.btn_txtimport, f.btn_localdata, f.Btn_sqlexec, f.btn_picset, f.btn_datato, f.btn_reprn})
        if (!b->isEnabled())
            return false;
    return true;
}

// Every later write of config.ini fails, as root too, whatever the temporary
// file is named: a folder stands at the temporary file's usual place and at
// the file's own.
void blockConfigWrites(StationHarness& h) {
    const std::string ini = h.dir.file("config.ini");
    ASSERT_EQ(::mkdir((ini + ".tmp").c_str(), 0700), 0);
    std::remove(ini.c_str());
    ASSERT_EQ(::mkdir(ini.c_str(), 0700), 0);
    test::writeFile(ini + "/keep", "");
}

// What the settings area shows about the port, the database and comparison.
struct LinkState {
    bool portGreen, databaseGreen, dataButtons, comparison;
    bool operator==(const LinkState&) const = default;
};
std::ostream& operator<<(std::ostream& o, const LinkState& s) {
    return o << "port " << (s.portGreen ? "green" : "not green") << ", database "
             << (s.databaseGreen ? "green" : "not green") << ", data buttons "
             << (s.dataButtons ? "on" : "off") << ", comparison "
             << (s.comparison ? "enabled" : "disabled");
}
LinkState shown(TForm1& f) {
    return {TForm1::isGreen(f.btn_comset), TForm1::isGreen(f.btn_databaseset),
            dataButtonsEnabled(f), f.chk_start->isEnabled()};
}
// What is really open, in the same terms.
LinkState truth(TForm1& f) {
    const bool port = f.com31.Connected(), db = f.ADO1.connected();
    return {port, db, db, port && db};
}

std::vector<std::string> listed(QListWidget* w) {
    std::vector<std::string> out;
    for (int i = 0; i < w->count(); ++i)
        out.push_back(w->item(i)->text().toStdString());
    return out;
}

} // namespace

// ---- the window itself -------------------------------------------------------

TEST(StationLayout, EveryControlStandsWhereTheFormPutsIt) {
    StationHarness h;
    TForm1& f = h.start();
    EXPECT_EQ(f.windowTitle(), "Vexora");
    EXPECT_EQ(
        f.windowIcon().availableSizes(),
        (QList<QSize>{{16, 16}, {24, 24}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}}))
        << "the station's icon, every size drawn";
    EXPECT_EQ(f.size(), QSize(1034, 814)) << "the whole form, on a screen with room for it";
    EXPECT_EQ(f.form()->size(), QSize(1034, 814));
    EXPECT_EQ(f.grp_scan->geometry(), QRect(10, 104, 423, 662));
    EXPECT_EQ(f.grp_scan->title(), "扫码区");
    EXPECT_EQ(f.grp_shezhi->title(), "设置区");
    EXPECT_EQ(f.Label14->parentWidget(), f.grp_scan);
    EXPECT_EQ(f.Label14->geometry(), QRect(12, 112, 329, 57));
    EXPECT_EQ(f.Label14->font().pixelSize(), 35);
    EXPECT_EQ(f.edit_rec->parentWidget(), f.form());
    EXPECT_EQ(f.edit_rec->geometry(), QRect(24, 128, 393, 21));
    EXPECT_EQ(f.btn_comset->text(), "保存COM口");
    EXPECT_EQ(f.CheckBox1->text(), "忽略连续相同码的重复报警、计数，只播报尾号");
    EXPECT_TRUE(f.CheckBox1->isChecked());
    EXPECT_TRUE(f.CheckBox3->isChecked());
    EXPECT_FALSE(f.chk_quejing->isChecked());
    EXPECT_EQ(f.img_logo->pixmap().size(), QSize(94, 94)) << "decoded through libjpeg";
    EXPECT_EQ(f.img_wx->pixmap().size(), QSize(85, 85));
    EXPECT_EQ(f.Label5->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_EQ(f.Label14->palette().color(QPalette::WindowText), QColor(0, 0, 255))
        << "blue after start-up";
    EXPECT_FALSE(f.chk_BTprn->isEnabled());
    EXPECT_FALSE(dataButtonsEnabled(f));
    for (const char* name :
         {"LB_alprn", "Label12", "Label13", "btn_btprn", "Label8", "Edit_zheng", "rg1_0", "rg1_1",
          "lbl1", "Label17", "Label18", "Label15", "Label21", "Label22"})
        EXPECT_NE(f.findChild<QWidget*>(name), nullptr) << name;
}

TEST(StationLayout, TheColumnCaptionEndsAfterItsEditBox) {
    StationHarness h;
    TForm1& f = h.start();
    QLabel* caption = f.lbl1;
    const QString text = caption->text();
    ASSERT_EQ(text, "多列标签跳号扫描，共         列");
    ASSERT_EQ(caption->parentWidget(), f.ed_prnlie->parentWidget());
    // Where the label draws each character, with its own font.
    QTextLayout layout(text, caption->font());
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    const int origin = caption->x() + caption->contentsRect().left();
    auto xOf = [&](int index) { return origin + line.cursorToX(index); };
    const QRect box = f.ed_prnlie->geometry();
    EXPECT_GT(xOf(text.size() - 1), box.right()) << "\"列\" is drawn under the column box";
    EXPECT_LE(xOf(text.size()), caption->geometry().right() + 1)
        << "\"列\" is cut off by the caption's own width";
    EXPECT_LE(xOf(text.indexOf(' ')), box.left()) << "the box covers the end of the text";
}

TEST(StationLayout, F1OpensTheHelpFileOnlyWhenItExists) {
    StationHarness h;
    TForm1& f = h.start();
    QTest::keyClick(f.Edit_willprn, Qt::Key_F1);
    EXPECT_TRUE(h.opened.isEmpty());
    test::writeFile(h.dir.file("help.txt"), "help");
    QTest::keyClick(f.Edit_willprn, Qt::Key_F1);
    EXPECT_EQ(h.opened, QStringList{QString::fromStdString(h.dir.file("help.txt"))});
}

TEST(StationLayout, F1OpensTheHelpInTheStartBoxAndTheWindowOnlyNotInOtherControls) {
    StationHarness h;
    test::writeFile(h.dir.file("help.txt"), "help");
    TForm1& f = h.start();
    // Keys typed into a control go to that control only.
    for (QWidget* control :
         std::initializer_list<QWidget*>{f.Edit_zheng, f.ed_strstart, f.edit_rec, f.Edit_mm,
                                         f.LB_rec, f.btn_comset, f.chk_quejing, f.DBGrid_a15show}) {
        control->setFocus();
        QTest::keyClick(control, Qt::Key_F1);
        EXPECT_TRUE(h.opened.isEmpty()) << control->objectName().toStdString();
        h.opened.clear();
    }
    f.Edit_willprn->setFocus();
    QTest::keyClick(f.Edit_willprn, Qt::Key_F1);
    EXPECT_EQ(h.opened.size(), 1) << "the start box";
    // The window itself, with no control holding the focus.
    if (QWidget* focus = f.focusWidget())
        focus->clearFocus();
    ASSERT_EQ(f.focusWidget(), nullptr);
    QTest::keyClick(&f, Qt::Key_F1);
    EXPECT_EQ(h.opened.size(), 2) << "the window";
}

TEST(StationLayout, AStationOutsideTheProgramsFolderNamesItAndShowsTheInstalledHelp) {
    test::TempDir program;
    test::writeFile(program.file("help.txt"), "installed help");
    StationHarness h;
    h.programFiles = QString::fromStdString(program.folder());
    h.folderInTitle = true;
    TForm1& f = h.start();
    EXPECT_EQ(f.windowTitle(), "Vexora — " + QString::fromStdString(h.dir.path()));
    f.Edit_willprn->setFocus();
    QTest::keyClick(f.Edit_willprn, Qt::Key_F1);
    EXPECT_EQ(h.opened, QStringList{QString::fromStdString(program.file("help.txt"))});
    test::writeFile(h.dir.file("help.txt"), "this station's own help");
    QTest::keyClick(f.Edit_willprn, Qt::Key_F1);
    EXPECT_EQ(h.opened.last(), QString::fromStdString(h.dir.file("help.txt")));
}

// ---- start-up ----------------------------------------------------------------

TEST(StationStartup, FirstStartWithoutConfigAsksForThePortAndWritesLastnum) {
    StationHarness h;
    TForm1& f = h.start();
    EXPECT_EQ(h.dialogs.messages, QStringList{"请先进行com口设置"});
    EXPECT_NE(h.ini().find("lastnum=0"), std::string::npos);
    EXPECT_EQ(f.ed_strstart->text(), "1");
    EXPECT_EQ(f.ed_strnum->text(), "0");
    EXPECT_EQ(f.ed_prnlie->text(), "1");
    EXPECT_EQ(f.Edit_id->text(), "sa");
    EXPECT_EQ(f.Edit_comnum->text(), "com3");
    EXPECT_EQ(f.Edit_willprn->text(), "1");
    EXPECT_FALSE(f.com31.Connected());
    EXPECT_FALSE(f.ADO1.connected());
    EXPECT_FALSE(f.chk_start->isEnabled());
}

TEST(StationStartup, StoredValuesFillTheBoxes) {
    StationHarness h;
    TForm1& f = h.start("[print]\r\nlastnum=41\r\nlienum=01\r\n[STR]\r\nstrnum=\r\nstrstart=3\r\n");
    EXPECT_EQ(f.Edit_willprn->text(), "42");
    EXPECT_EQ(f.ed_prnlie->text(), "1");
    EXPECT_EQ(f.ed_strnum->text(), "") << "an empty value is not the default";
    EXPECT_EQ(f.station.engine.strnum, "");
    EXPECT_EQ(f.ed_strstart->text(), "3");
}

TEST(StationStartup, ValuesThatAreNotNumbersAreReportedAndStartUpGoesOn) {
    StationHarness h;
    h.seedDatabase({"A"});
    TForm1& f = h.start(dbConfig() + "[print]\r\nlastnum=abc\r\nlienum=two\r\n");
    ASSERT_EQ(h.dialogs.messages.size(), 3) << h.dialogs.messages.join("|").toStdString();
    EXPECT_TRUE(h.dialogs.messages[0].contains("lienum"));
    EXPECT_TRUE(h.dialogs.messages[2].contains("lastnum"));
    EXPECT_EQ(f.station.engine.columnCount, 1);
    EXPECT_TRUE(f.ADO1.connected());
}

TEST(StationStartup, PortAndDatabaseOpenEnableComparisonUnchecked) {
    Pty pty;
    StationHarness h;
    h.seedDatabase({"A", "B"});
    TForm1& f = h.start(dbConfig(pty.slavePath()));
    EXPECT_TRUE(f.com31.Connected());
    EXPECT_TRUE(TForm1::isGreen(f.btn_comset));
    EXPECT_TRUE(TForm1::isGreen(f.btn_databaseset));
    EXPECT_TRUE(f.chk_start->isEnabled());
    EXPECT_FALSE(f.chk_start->isChecked());
    EXPECT_TRUE(dataButtonsEnabled(f));
    EXPECT_EQ(f.Edit_comnum->text().toStdString(), pty.slavePath());
    EXPECT_EQ(f.DataSource1.rowCount(), 2) << "a15 with records is shown";
    EXPECT_EQ(f.DBGrid_a15show->columnWidth(1), 140);
}

TEST(StationStartup, DatabaseWithoutPortEnablesDataButtonsOnly) {
    StationHarness h;
    TForm1& f = h.start(dbConfig());
    EXPECT_TRUE(dataButtonsEnabled(f));
    EXPECT_FALSE(f.chk_start->isEnabled());
    EXPECT_EQ(f.DataSource1.rowCount(), 0) << "a new, empty a15 is not shown";
    data::Connection db;
    db.openWith(data::openSqliteBackend(h.dir.file("station.db")));
    data::Query q(db);
    q.setText("select count(*) from a15");
    EXPECT_NO_THROW(q.open()) << "a15 was created";
}

TEST(StationStartup, APortThatFailsShowsTheComponentsMessage) {
    StationHarness h;
    TForm1& f = h.start("[com]\r\nnum=/dev/vexora-missing\r\n");
    ASSERT_EQ(h.dialogs.messages.size(), 1);
    EXPECT_TRUE(h.dialogs.messages[0].startsWith("Unable to open com port (win error code: "));
    EXPECT_FALSE(f.com31.Connected());
    EXPECT_FALSE(TForm1::isGreen(f.btn_comset));
    EXPECT_FALSE(f.chk_start->isEnabled());
}

TEST(StationStartup, APortTheUserMayNotOpenSaysWhichGroupToJoinAndHow) {
    std::string why;
    if (!test::RefusedPort::available(why))
        GTEST_SKIP() << why;
    test::RefusedPort port;
    StationHarness h;
    ASSERT_EQ(::chmod(h.dir.path().c_str(), 01777), 0) << "the station writes there as nobody";
    const QString advice =
        "\n\n用户 root 不在 dialout 组，没有权限打开 " + QString::fromStdString(port.path()) +
        "。\n请把用户加入该组，然后注销并重新登录：\nsudo usermod -aG dialout root";
    {
        test::RefusedPort::AsNobody nobody;
        h.start("[com]\r\nnum=" + port.path() + "\r\n");
    }
    EXPECT_EQ(h.dialogs.messages,
              QStringList{"Unable to open com port (win error code: 13)" + advice});
    EXPECT_FALSE(h.form().com31.Connected());

    h.dialogs.messages.clear();
    {
        test::RefusedPort::AsNobody nobody;
        h.form().btn_comset->click();
    }
    EXPECT_EQ(h.dialogs.messages,
              QStringList{"条码枪没插或者" + QString::fromStdString(port.path()) + "设置错误！" +
                          advice});
    EXPECT_FALSE(TForm1::isGreen(h.form().btn_comset));
}

TEST(StationStartup, AConnectionThatFailsIsReportedAndClosed) {
    StationHarness h;
    TForm1& f = h.start("[Database]\r\nservername=no/such/folder/x.db\r\n");
    ASSERT_FALSE(h.dialogs.messages.isEmpty());
    EXPECT_TRUE(h.dialogs.messages.last().startsWith("打开数据库时发生错误: "));
    EXPECT_FALSE(f.ADO1.connected());
    EXPECT_FALSE(dataButtonsEnabled(f));
}

TEST(StationStartup, ATableThatCannotBeCreatedIsReportedWithTheConnectionLeftOpen) {
    StationHarness h;
    // A view named a15 is no table: the creation batch cannot replace it.
    h.sql({"create view a15 as select 1 as bh"});
    TForm1& f = h.start(dbConfig());
    EXPECT_EQ(h.dialogs.messages.last(), "表a15异常");
    EXPECT_TRUE(f.ADO1.connected());
    EXPECT_TRUE(dataButtonsEnabled(f));
    EXPECT_TRUE(TForm1::isGreen(f.btn_databaseset));
}

TEST(StationStartup, AGridThatCannotOpenIsATableErrorWithTheConnectionOpen) {
    Pty pty;
    StationHarness h;
    // a15 with a record and its pic column passes the check, but the grid
    // reads its records by bh, which this table lacks.
    h.sql({"create table a15(tt text, pic text)", "insert into a15 values('A', '')"});
    TForm1& f = h.start(dbConfig(pty.slavePath()));
    EXPECT_EQ(h.dialogs.messages.last(), "表a15异常");
    EXPECT_TRUE(h.dialogs.errors.isEmpty()) << h.dialogs.errors.join("|").toStdString();
    EXPECT_TRUE(f.ADO1.connected());
    EXPECT_EQ(shown(f), (LinkState{true, true, true, true}));
    EXPECT_EQ(shown(f), truth(f));
}

TEST(StationStartup, ALastPrintedNumberWithoutASuccessorIsReportedAndTheStartBoxKeepsOne) {
    StationHarness h;
    TForm1& f = h.start("[print]\r\nlastnum=9223372036854775807\r\n");
    EXPECT_EQ(f.Edit_willprn->text(), "1");
    ASSERT_EQ(h.dialogs.messages.size(), 2) << h.dialogs.messages.join("|").toStdString();
    EXPECT_TRUE(h.dialogs.messages[1].contains("lastnum=9223372036854775807"));
    EXPECT_EQ(f.heldLastPrinted(), "9223372036854775807") << "held as read";
    StationHarness below;
    below.config("[print]\r\nlastnum=9223372036854775806\r\n");
    EXPECT_EQ(below.start().Edit_willprn->text(), "9223372036854775807");
}

// ---- port and field settings ---------------------------------------------------

TEST(PortSetting, ASuccessfulSaveStoresOpensAndEnablesComparisonWithTheDatabase) {
    Pty pty;
    StationHarness h;
    TForm1& f = h.start(dbConfig());
    h.dialogs.messages.clear();
    f.Edit_comnum->setText(QString::fromStdString(pty.slavePath()));
    f.btn_comset->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"com口可用！"});
    EXPECT_TRUE(f.com31.Connected());
    EXPECT_TRUE(TForm1::isGreen(f.btn_comset));
    EXPECT_TRUE(f.chk_start->isEnabled());
    EXPECT_NE(h.ini().find("num=" + pty.slavePath()), std::string::npos);
    f.btn_comset->click(); // the same port again: closed and reopened
    EXPECT_EQ(h.dialogs.messages.size(), 2);
    EXPECT_TRUE(f.com31.Connected());
}

TEST(PortSetting, WithTheDatabaseClosedComparisonStaysDisabled) {
    Pty pty;
    StationHarness h;
    TForm1& f = h.start();
    f.Edit_comnum->setText(QString::fromStdString(pty.slavePath()));
    f.btn_comset->click();
    EXPECT_TRUE(f.com31.Connected());
    EXPECT_FALSE(f.chk_start->isEnabled());
}

TEST(PortSetting, ABusyOrMissingPortIsStoredAndTurnsTheButtonBlack) {
    Pty pty;
    serial::TComPort other;
    other.setPort(pty.slavePath());
    other.OpenPort();
    StationHarness h;
    TForm1& f = h.start();
    h.dialogs.messages.clear();
    f.Edit_comnum->setText(QString::fromStdString(pty.slavePath()));
    f.btn_comset->click();
    EXPECT_EQ(
        h.dialogs.messages,
        QStringList{"条码枪没插或者" + QString::fromStdString(pty.slavePath()) + "设置错误！"});
    EXPECT_EQ(f.btn_comset->palette().color(QPalette::ButtonText), app::kBlack);
    EXPECT_FALSE(f.chk_start->isEnabled());
    EXPECT_NE(h.ini().find("num=" + pty.slavePath()), std::string::npos);
}

TEST(PortSetting, AConfigWriteThatFailsLeavesNoGreenOverTheClosedPort) {
    Pty pty;
    StationHarness h;
    TForm1& f = h.start(dbConfig(pty.slavePath()));
    ASSERT_EQ(shown(f), (LinkState{true, true, true, true}));
    f.chk_start->setChecked(true);
    blockConfigWrites(h);
    h.dialogs.messages.clear();
    f.btn_comset->click();
    EXPECT_FALSE(f.com31.Connected()) << "closed before the name is stored";
    EXPECT_EQ(shown(f), truth(f));
    EXPECT_EQ(f.btn_comset->palette().color(QPalette::ButtonText), app::kBlack);
    ASSERT_FALSE(h.dialogs.messages.isEmpty());
    EXPECT_EQ(h.dialogs.messages[0],
              "条码枪没插或者" + QString::fromStdString(pty.slavePath()) + "设置错误！");
    const QString why = "Unable to write to " + QString::fromStdString(h.dir.file("config.ini"));
    EXPECT_TRUE(h.dialogs.messages.contains(why) || h.dialogs.errors.contains(why))
        << "the operator learns why: " << h.dialogs.messages.join("|").toStdString();
}

TEST(PortSetting, TheNameIsStoredAsTypedOnPosixWhereDevicePathsKeepTheirCase) {
    StationHarness h;
    TForm1& f = h.start();
    h.dialogs.messages.clear();
    f.btn_comset->click(); // the initial text "com3"
    EXPECT_EQ(h.dialogs.messages, QStringList{"条码枪没插或者com3设置错误！"});
    EXPECT_NE(h.ini().find("num=com3"), std::string::npos);
    EXPECT_EQ(f.com31.Port(), "com3");
}

TEST(FieldSetting, SaveStoresAndAppliesTheTextsAsTyped) {
    StationHarness h;
    TForm1& f = h.start();
    h.dialogs.messages.clear();
    f.ed_strstart->setText("3");
    f.ed_strnum->setText("x6");
    f.btn_selN->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"已保存"});
    EXPECT_EQ(f.station.engine.strstart, "3");
    EXPECT_EQ(f.station.engine.strnum, "x6");
    EXPECT_NE(h.ini().find("strnum=x6"), std::string::npos);
}

TEST(FieldSetting, ASelectionInTheScanPicksStartAndLength) {
    StationHarness h;
    TForm1& f = h.start();
    f.edit_rec->setText("AB123456XY");
    f.edit_recClick();
    EXPECT_EQ(f.ed_strstart->text(), "1") << "no selection: nothing changes";
    f.edit_rec->setSelection(2, 6);
    f.edit_recClick();
    EXPECT_EQ(f.ed_strstart->text(), "3");
    EXPECT_EQ(f.ed_strnum->text(), "6");
    EXPECT_EQ(f.edit_recstr->text(), "123456");
    EXPECT_EQ(f.station.engine.strstart, "1") << "shown, not saved";
}

TEST(FieldSetting, EnterInTheColumnBoxStoresANumberAndRefusesAnythingElse) {
    StationHarness h;
    TForm1& f = h.start();
    h.dialogs.messages.clear();
    f.ed_prnlie->setText("2");
    QTest::keyClick(f.ed_prnlie, Qt::Key_Return);
    EXPECT_EQ(f.station.engine.columnCount, 2);
    EXPECT_NE(h.ini().find("lienum=2"), std::string::npos);
    EXPECT_EQ(h.dialogs.messages, QStringList{"已保存"});
    f.ed_prnlie->setText("x");
    QTest::keyClick(f.ed_prnlie, Qt::Key_Return);
    EXPECT_EQ(h.dialogs.errors, QStringList{"'x' is not a valid integer value"});
    EXPECT_EQ(f.station.engine.columnCount, 2);
    EXPECT_NE(h.ini().find("lienum=2"), std::string::npos);
    QTest::keyClick(f.ed_prnlie, Qt::Key_5);
    EXPECT_EQ(h.dialogs.errors.size(), 1) << "other keys are left to the box";
}

// ---- database settings ---------------------------------------------------------

TEST(DatabaseSetting, WrongSettingsAreSavedReportedAndDisableEverything) {
    StationHarness h;
    TForm1& f = h.start(dbConfig());
    h.dialogs.messages.clear();
    f.Edit_servername->setText("no/such/folder/x.db");
    f.Edit_mm->setText("p;w");
    f.btn_databaseset->click();
    ASSERT_EQ(h.dialogs.messages.size(), 1);
    EXPECT_TRUE(h.dialogs.messages[0].startsWith("打开数据库时发生错误: "));
    EXPECT_FALSE(dataButtonsEnabled(f));
    EXPECT_FALSE(f.chk_start->isEnabled());
    EXPECT_EQ(f.btn_databaseset->palette().color(QPalette::ButtonText), app::kBlack);
    EXPECT_NE(h.ini().find("servername=no/such/folder/x.db"), std::string::npos);
    EXPECT_NE(h.ini().find("mm=p;w"), std::string::npos);
}

TEST(DatabaseSetting, AGoodConnectionShowsA15AndEnablesComparisonWithThePort) {
    Pty pty;
    StationHarness h;
    h.seedDatabase({"A"}, "other.db");
    TForm1& f = h.start("[com]\r\nnum=" + pty.slavePath() + "\r\n");
    h.dialogs.messages.clear();
    f.Edit_servername->setText("other.db");
    f.btn_databaseset->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"数据库连接成功！"});
    EXPECT_TRUE(TForm1::isGreen(f.btn_databaseset));
    EXPECT_TRUE(dataButtonsEnabled(f));
    EXPECT_TRUE(f.chk_start->isEnabled());
    EXPECT_EQ(f.DataSource1.rowCount(), 1);
}

TEST(DatabaseSetting, ADatabaseWithoutA15ConnectsWithAnEmptyGrid) {
    StationHarness h;
    TForm1& f = h.start();
    f.Edit_servername->setText("fresh.db");
    f.btn_databaseset->click();
    EXPECT_EQ(h.dialogs.messages.last(), "数据库连接成功！");
    EXPECT_EQ(f.DataSource1.columnCount(), 0);
}

TEST(DatabaseSetting, AConfigWriteThatFailsLeavesNoGreenOverTheClosedDatabase) {
    Pty pty;
    StationHarness h;
    h.seedDatabase({"A"});
    TForm1& f = h.start(dbConfig(pty.slavePath()));
    ASSERT_EQ(shown(f), (LinkState{true, true, true, true}));
    f.chk_start->setChecked(true);
    blockConfigWrites(h);
    f.btn_databaseset->click();
    EXPECT_FALSE(f.ADO1.connected()) << "closed before the settings are written";
    EXPECT_EQ(shown(f), truth(f));
    EXPECT_EQ(f.btn_databaseset->palette().color(QPalette::ButtonText), app::kBlack);
    EXPECT_TRUE(TForm1::isGreen(f.btn_comset)) << "the port is still open";
    const QString why = "Unable to write to " + QString::fromStdString(h.dir.file("config.ini"));
    EXPECT_TRUE(h.dialogs.messages.contains(why) || h.dialogs.errors.contains(why));
}

// ---- text import -----------------------------------------------------------------

TEST(TextImportAction, CancelInAnyDialogLeavesTheTablesAlone) {
    StationHarness h;
    h.seedDatabase({"KEEP"});
    TForm1& f = h.start(dbConfig());
    test::writeFile(h.dir.file("in.txt"), "NEW\n");
    const QString file = QString::fromStdString(h.dir.file("in.txt"));
    h.dialogs.messages.clear();
    f.btn_txtimport->click(); // open-file dialog cancelled
    h.dialogs.files = {file};
    h.dialogs.answers = {app::Dialogs::Answer::Cancel};
    f.btn_txtimport->click();
    for (const char* answer : {"请填写", ""}) {
        h.dialogs.files = {file};
        h.dialogs.answers = {app::Dialogs::Answer::Yes};
        h.dialogs.inputs = {answer};
        f.btn_txtimport->click();
    }
    EXPECT_EQ(h.column("select tt from a15 order by bh"), std::vector<std::string>{"KEEP"});
    EXPECT_TRUE(h.dialogs.messages.isEmpty());
}

TEST(TextImportAction, ImportsShowsTheTableAndTurnsThePictureButtonBlack) {
    StationHarness h;
    TForm1& f = h.start(dbConfig());
    TForm1::setCaptionColour(f.btn_picset, app::kGreen);
    test::writeFile(h.dir.file("in.txt"), "x,L1\r\ny,L2\r\n");
    h.dialogs.messages.clear();
    h.dialogs.files = {QString::fromStdString(h.dir.file("in.txt"))};
    h.dialogs.answers = {app::Dialogs::Answer::Yes};
    h.dialogs.inputs = {",2"};
    f.btn_txtimport->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"数据导入成功!"});
    EXPECT_EQ(h.column("select tt from a15 order by bh"), (std::vector<std::string>{"L1", "L2"}));
    EXPECT_EQ(f.DataSource1.rowCount(), 2);
    EXPECT_EQ(f.DBGrid_a15show->columnWidth(0), 45);
    EXPECT_EQ(f.btn_picset->palette().color(QPalette::ButtonText), app::kBlack);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor is gone";
}

TEST(TextImportAction, DuplicatesAreReportedAfterSuccessAndShownInTheGrid) {
    StationHarness h;
    TForm1& f = h.start(dbConfig());
    test::writeFile(h.dir.file("in.txt"), "ABC\nABC\nX\n");
    h.dialogs.messages.clear();
    h.dialogs.files = {QString::fromStdString(h.dir.file("in.txt"))};
    h.dialogs.answers = {app::Dialogs::Answer::Yes};
    h.dialogs.inputs = {"1"};
    f.btn_txtimport->click();
    EXPECT_EQ(h.dialogs.messages, (QStringList{"数据导入成功!", "数据有重复，见数据表格"}));
    ASSERT_EQ(f.DataSource1.columnCount(), 3);
    EXPECT_EQ(f.DataSource1.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "ge");
    EXPECT_EQ(f.DataSource1.data(f.DataSource1.index(0, 1), Qt::DisplayRole).toString(), "2");
}

TEST(TextImportAction, ABadLineReportsAnErrorAndAnUnreadableFileChangesNothing) {
    StationHarness h;
    h.seedDatabase({"KEEP"});
    TForm1& f = h.start(dbConfig());
    h.dialogs.messages.clear();
    h.dialogs.files = {QString::fromStdString(h.dir.file("missing.txt"))};
    h.dialogs.answers = {app::Dialogs::Answer::Yes};
    h.dialogs.inputs = {"1"};
    f.btn_txtimport->click();
    EXPECT_EQ(h.dialogs.errors.size(), 1) << "the general error report";
    EXPECT_EQ(h.column("select tt from a15 order by bh"), std::vector<std::string>{"KEEP"});

    test::writeFile(h.dir.file("in.txt"), "OK\n" + std::string(40, 'x') + "\n");
    h.dialogs.files = {QString::fromStdString(h.dir.file("in.txt"))};
    h.dialogs.answers = {app::Dialogs::Answer::Yes};
    h.dialogs.inputs = {"1"};
    f.btn_txtimport->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"导入出错."});
    EXPECT_EQ(h.column("select tt from a15 order by bh"), std::vector<std::string>{"OK"});
    EXPECT_EQ(f.DataSource1.rowCount(), 1) << "the grid shows the table after a failure too";
}

// ---- the scan area's own controls ------------------------------------------

namespace {
// A station with an entry in each of the three verdict lists and two counts:
// record 1 good, 3 good after the missing range 2-2, 1 again a duplicate,
// and a code that is not in the table.
TForm1& stationWithEveryList(StationHarness& h) {
    h.seedDatabase({"C001", "C002", "C003"});
    TForm1& f = h.start(dbConfig() + "[STR]\r\nstrstart=1\r\nstrnum=4\r\n");
    for (const char* code : {"C001", "C003", "C001", "ZZZZ"})
        scanText(f, code);
    return f;
}
} // namespace

TEST(ScanArea, EachClearButtonEmptiesItsOwnListAndEachCounterButtonItsOwnCount) {
    StationHarness h;
    TForm1& f = stationWithEveryList(h);
    ASSERT_EQ(listed(f.Lb_cuo), std::vector<std::string>{"ZZZZ"});
    ASSERT_EQ(listed(f.LB_chong), std::vector<std::string>{"1"});
    ASSERT_EQ(listed(f.LB_shao), std::vector<std::string>{"2-2"});
    ASSERT_EQ(f.btn_zongji->text(), "3");

    f.Button2->click();
    EXPECT_EQ(f.Lb_cuo->count(), 0);
    EXPECT_EQ(f.LB_chong->count(), 1);
    EXPECT_EQ(f.LB_shao->count(), 1);
    f.Button5->click();
    EXPECT_EQ(f.LB_chong->count(), 0);
    EXPECT_EQ(f.LB_shao->count(), 1);
    f.Button6->click();
    EXPECT_EQ(f.LB_shao->count(), 0);
    EXPECT_EQ(f.LB_rec->count(), 3) << "only the clear-all empties the recent numbers";

    f.btn_piji->click();
    EXPECT_EQ(f.btn_piji->text(), "0");
    EXPECT_EQ(f.btn_zongji->text(), "3");
    f.btn_zongji->click();
    EXPECT_EQ(f.btn_zongji->text(), "0");
    scanText(f, "C002");
    EXPECT_EQ(f.btn_zongji->text(), "1") << "the counters count on from zero";
    EXPECT_EQ(f.btn_piji->text(), "1");
}

TEST(ScanArea, AFieldPickedFromTheScanSurvivesTheCounterAndListButtons) {
    StationHarness h;
    TForm1& f = h.start();
    scanText(f, "AB123456XY", false);
    ASSERT_EQ(f.edit_rec->text(), "AB123456XY");
    // The operator drags over "123456" in the scan.
    auto at = [&](int chars) {
        QPoint p(0, f.edit_rec->height() / 2);
        while (p.x() < f.edit_rec->width() && f.edit_rec->cursorPositionAt(p) < chars)
            p.rx()++;
        return p;
    };
    QTest::mousePress(f.edit_rec, Qt::LeftButton, {}, at(2));
    QTest::mouseMove(f.edit_rec, at(8));
    QTest::mouseRelease(f.edit_rec, Qt::LeftButton, {}, at(8));
    ASSERT_EQ(f.edit_rec->selectedText(), "123456");
    EXPECT_EQ(f.ed_strstart->text(), "3");
    EXPECT_EQ(f.ed_strnum->text(), "6");
    EXPECT_EQ(f.edit_recstr->text(), "123456");
    for (QPushButton* b : {f.btn_zongji, f.btn_piji, f.Button2, f.Button5, f.Button6}) {
        b->click();
        EXPECT_EQ(f.edit_recstr->text(), "123456") << b->objectName().toStdString();
        EXPECT_EQ(f.edit_rec->text(), "AB123456XY") << b->objectName().toStdString();
    }
    EXPECT_EQ(f.ed_strstart->text(), "3");
    scanText(f, "CD999999ZZ", false);
    EXPECT_EQ(f.edit_recstr->text(), "CD999999ZZ") << "the next scan shows its own field";
}

TEST(ScanArea, EachVerdictBlinksItsOwnCaptionAndTheFlashEndsWithAllShown) {
    StationHarness h;
    h.seedDatabase({"C001", "C002", "C003"});
    TForm1& f = h.start(dbConfig() + "[STR]\r\nstrstart=1\r\nstrnum=4\r\n");
    auto visible = [&] {
        return std::vector<bool>{f.Label9->isVisible(), f.Label10->isVisible(),
                                 f.Label11->isVisible()};
    };
    scanText(f, "C001");
    scanText(f, "C003"); // missing range 2-2: 缺码 blinks, on the flash timer
    ASSERT_TRUE(f.Timer_shan.isActive());
    ASSERT_TRUE(waitFor([&] { return !f.Label11->isVisible(); }, 1000ms));
    EXPECT_EQ(visible(), (std::vector<bool>{true, true, false}));
    f.Timer_shanTimer();
    EXPECT_EQ(visible(), (std::vector<bool>{true, true, true}));

    scanText(f, "C001"); // a duplicate during that flash: 重码 blinks now
    f.Timer_shanTimer();
    EXPECT_EQ(visible(), (std::vector<bool>{true, false, true}));
    f.Timer_shanTimer();
    EXPECT_EQ(visible(), (std::vector<bool>{true, true, true}));
    f.Timer_shanTimer();
    EXPECT_EQ(visible(), (std::vector<bool>{true, false, true}));

    for (int i = 0; i < 60 && f.Timer_shan.isActive(); ++i)
        f.Timer_shanTimer();
    EXPECT_FALSE(f.Timer_shan.isActive()) << "the flash ends";
    EXPECT_EQ(visible(), (std::vector<bool>{true, true, true}));
}

TEST(ScanArea, AScanEndingInCrLfIsListedOnOneLineInGlyphsTheListsFontDraws) {
    StationHarness h;
    h.seedDatabase({"C001"});
    TForm1& f = h.start(dbConfig() + "[STR]\r\nstrstart=1\r\nstrnum=4\r\n");
    scanText(f, "C1\r\n"); // the cut field keeps CR LF: not found
    scanText(f, "C\r\n");  // too short: the whole scan is listed
    ASSERT_EQ(f.Lb_cuo->count(), 2);
    for (int i = 0; i < 2; ++i) {
        const QString entry = f.Lb_cuo->item(i)->text();
        EXPECT_FALSE(entry.contains('\r') || entry.contains('\n')) << "one entry, one line";
        EXPECT_GT(entry.size(), i == 0 ? 2 : 1) << "the control bytes are shown";
        // Lay the entry out as the list draws it, font fallback included:
        // glyph 0 is the empty box a font draws for a character it lacks.
        QTextLayout layout(entry, f.Lb_cuo->font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun& run : layout.glyphRuns())
            for (quint32 glyph : run.glyphIndexes())
                EXPECT_NE(glyph, 0u)
                    << entry.toStdString() << " in " << run.rawFont().familyName().toStdString();
    }
}

// ---- live scanning -----------------------------------------------------------

TEST(LiveScanning, AScanThroughThePortGivesItsVerdictListsAndCounters) {
    Pty pty;
    StationHarness h;
    h.seedDatabase({"C001", "C002", "C003"});
    TForm1& f = h.start(dbConfig(pty.slavePath()) + "[STR]\r\nstrstart=1\r\nstrnum=4\r\n");
    f.chk_start->setChecked(true);
    pty.write("C001\r\n");
    ASSERT_TRUE(waitFor([&] { return f.LB_rec->count() == 1; }));
    EXPECT_EQ(f.Label14->text(), "1");
    EXPECT_EQ(f.btn_zongji->text(), "1");
    EXPECT_EQ(f.edit_rec->text(), "C001\r\n");
    pty.write("C003\r\n");
    ASSERT_TRUE(waitFor([&] { return f.LB_rec->count() == 2; }));
    EXPECT_EQ(f.LB_shao->item(0)->text(), "2-2");
    EXPECT_TRUE(f.Timer_shan.isActive());
    EXPECT_TRUE(f.play_timer.isActive());
    EXPECT_GE(h.windows.fronts, 1);
    pty.write("ZZZZ\r\n");
    ASSERT_TRUE(waitFor([&] { return f.Lb_cuo->count() == 1; }));
    EXPECT_EQ(f.Label14->text(), "数据库中查不到");
    EXPECT_EQ(f.btn_piji->text(), "2");
    ASSERT_TRUE(waitFor([&] { return !f.play_timer.isActive(); }, 2000ms));
    EXPECT_EQ(h.sound.played.back(), h.dir.folder() + "chong_d.wav");
    f.btn_zongji->click();
    EXPECT_EQ(f.btn_zongji->text(), "0");
    EXPECT_EQ(f.btn_piji->text(), "2");
}

TEST(LiveScanning, AnUnpluggedScannerTurnsThePortButtonBlack) {
    auto pty = std::make_unique<Pty>();
    StationHarness h;
    TForm1& f = h.start(dbConfig(pty->slavePath()));
    ASSERT_TRUE(f.chk_start->isEnabled());
    pty->closeMaster();
    ASSERT_TRUE(waitFor([&] { return !f.com31.Connected(); }));
    EXPECT_EQ(f.btn_comset->palette().color(QPalette::ButtonText), app::kBlack);
    EXPECT_FALSE(f.chk_start->isEnabled());
    Pty replugged;
    f.Edit_comnum->setText(QString::fromStdString(replugged.slavePath()));
    f.btn_comset->click();
    EXPECT_TRUE(f.com31.Connected());
    EXPECT_TRUE(f.chk_start->isEnabled());
}

// Each question as the operator sees it: the real box, its caption, icon,
// buttons and the button Enter presses.
TEST(QuestionBoxes, EachAsksWithItsOwnCaptionIconButtonsAndDefault) {
    using Answer = app::Dialogs::Answer;
    StationHarness h;
    h.seedDatabase({"VX1"});
    TForm1& f = h.start(dbConfig() + "[print]\r\nlastnum=4\r\n");
    h.dialogs.realQuestionBoxes = true;

    h.dialogs.files = {QString::fromStdString(h.dir.file("labels.txt"))};
    h.dialogs.answers = {Answer::Cancel};
    f.btn_txtimport->click();
    h.dialogs.answers = {Answer::No};
    f.btn_localdata->click();
    h.dialogs.answers = {Answer::No};
    f.btn_reprn->click();
    h.dialogs.answers = {Answer::No};
    f.Edit_willprn->setText("15");
    QTest::keyClick(f.Edit_willprn, Qt::Key_Return);

    EXPECT_EQ(
        h.dialogs.boxes,
        (QStringList{"请问|是要导入主表吗，选[否(N)]则导入附表|Question|Yes No Cancel|Yes",
                     "|本地数据库表a14准备好了吗？|Information|Yes No|No",
                     "|确定要全部清零重打印吗？|Information|Yes No|No",
                     "Confirm|【开始打印数】不是下一个,确定选这个开始吗？|Question|Yes No|Yes"}));
    EXPECT_EQ(f.Edit_willprn->text(), "5") << "No keeps the next number";
}

int main(int argc, char** argv) {
    return vx::test::runWindowTests(argc, argv);
}
