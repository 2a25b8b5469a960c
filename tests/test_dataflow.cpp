// Label data from file to export through the window, as an operator runs a
// line: import a file into a15, run a script that fills a14, rebuild a15
// from a14, assign pictures, scan labels through the port, export the
// scanned records. Once
// on the embedded database and once through ODBC (the SQLite ODBC driver).

#include "tests/support/Pty.h"
#include "tests/support/StationHarness.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace vx;
using app::Dialogs;
using app::TForm1;
using vx::test::Pty;
using vx::test::StationHarness;

namespace {

// The [Database] section for the path under test, and the file it reaches.
struct Path {
    const char* name;
    std::string file() const { return std::string(name) == "embedded" ? "station.db" : "odbc.db"; }
    std::string database(StationHarness& h) const { return h.dir.file(file()); }
    std::string config(StationHarness& h) const {
        if (std::string(name) == "embedded")
            return "[Database]\r\nservername=station.db\r\n";
        return "[Database]\r\nservername=localhost\r\ndataname=" + database(h) + "\r\n";
    }
};

} // namespace

class DataFlow : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        if (std::string(GetParam().name) == "odbc") {
            const char* driver = std::getenv("VEXORA_TEST_SQLITE_ODBC_DRIVER");
            setenv("VEXORA_ODBC_DRIVER", driver ? driver : "SQLite3", 1);
        }
    }
    void TearDown() override { unsetenv("VEXORA_ODBC_DRIVER"); }
};

TEST_P(DataFlow, ImportScriptRebuildPicturesScanAndExportFromTheWindow) {
    Pty pty;
    StationHarness h;
    const Path& path = GetParam();
    TForm1& f = h.start(path.config(h) + "[com]\r\nnum=" + pty.slavePath() +
                        "\r\n[STR]\r\nstrstart=1\r\nstrnum=4\r\n");
    ASSERT_TRUE(f.ADO1.connected()) << h.dialogs.messages.join("\n").toStdString();
    ASSERT_TRUE(f.chk_start->isEnabled());
    h.dialogs.messages.clear();

    // A text file into a15, second column.
    test::writeFile(h.dir.file("labels.txt"), "1,L001\r\n2,L002\r\n");
    h.dialogs.files = {QString::fromStdString(h.dir.file("labels.txt"))};
    h.dialogs.answers = {Dialogs::Answer::Yes};
    h.dialogs.inputs = {",2"};
    f.btn_txtimport->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"数据导入成功!"});
    EXPECT_EQ(h.records("a15", path.file()),
              (std::vector<std::string>{"1|L001|NULL|False", "2|L002|NULL|False"}));

    // A script fills a14.
    test::writeFile(h.dir.file("fill.sql"),
                    "drop table if exists a14;\n"
                    "create table a14(bh integer primary key autoincrement, tt varchar(30),\n"
                    "  pic varchar(90), prned bit default 0);\n"
                    "insert into a14 (tt) values ('E001'), ('E002'), ('E003'), ('E004');\n");
    h.dialogs.messages.clear();
    h.dialogs.files = {QString::fromStdString(h.dir.file("fill.sql"))};
    f.Btn_sqlexec->click();
    ASSERT_EQ(h.dialogs.messages, QStringList{"已执行！"})
        << h.dialogs.errors.join("\n").toStdString();

    // a15 rebuilt from it.
    h.dialogs.messages.clear();
    h.dialogs.answers = {Dialogs::Answer::Yes};
    f.btn_localdata->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"生成成功!"});
    EXPECT_EQ(h.records("a15", path.file()),
              (std::vector<std::string>{"1|E001||False", "2|E002||False", "3|E003||False",
                                        "4|E004||False"}));
    EXPECT_EQ(f.DataSource1.rowCount(), 4);

    // Pictures assigned from one file of the numbered series.
    h.dialogs.messages.clear();
    const std::string pictures = h.dir.file("pic_");
    h.dialogs.files = {QString::fromStdString(pictures + "0001.jpg")};
    f.btn_picset->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"完成"});
    EXPECT_TRUE(TForm1::isGreen(f.btn_picset));

    // Two labels scanned through the port.
    f.chk_start->setChecked(true);
    pty.write("E002\r\n");
    ASSERT_TRUE(test::pumpUntil([&] { return f.LB_rec->count() == 1; }));
    pty.write("E003\r\n");
    ASSERT_TRUE(test::pumpUntil([&] { return f.LB_rec->count() == 2; }));

    // The scanned records exported.
    h.dialogs.messages.clear();
    f.rg1Items->button(1)->setChecked(true);
    h.dialogs.files = {QString::fromStdString(h.dir.file("scanned.txt"))};
    f.btn_datato->click();
    EXPECT_EQ(h.dialogs.messages, QStringList{"已导出"})
        << h.dialogs.errors.join("\n").toStdString();
    EXPECT_EQ(test::readFile(h.dir.file("scanned.txt")),
              "2,E002," + pictures + "0002.jpg,True,\r\n3,E003," + pictures + "0003.jpg,True,\r\n");
    EXPECT_TRUE(h.dialogs.errors.isEmpty()) << h.dialogs.errors.join("\n").toStdString();
}

// A script that begins a transaction and does not end it, or fails inside
// one, must not keep the station's connection in it: every later scan's mark
// would stay uncommitted and vanish when the station closes.
TEST_P(DataFlow, AScriptLeavingATransactionOpenIsRolledBackAndLaterScansAreStored) {
    Pty pty;
    StationHarness h;
    const Path& path = GetParam();
    h.seedDatabase({"E001", "E002", "E003"},
                   path.name == std::string("embedded") ? "station.db" : "odbc.db");
    TForm1& f = h.start(path.config(h) + "[com]\r\nnum=" + pty.slavePath() +
                        "\r\n[STR]\r\nstrstart=1\r\nstrnum=4\r\n");
    ASSERT_TRUE(f.ADO1.connected()) << h.dialogs.messages.join("\n").toStdString();
    f.chk_start->setChecked(true);
    const QString rolledBack = QString::fromUtf8(app::kScriptTransactionRolledBack);

    auto runScript = [&](const std::string& text) {
        h.dialogs.messages.clear();
        h.dialogs.errors.clear();
        test::writeFile(h.dir.file("open.sql"), text);
        h.dialogs.files = {QString::fromStdString(h.dir.file("open.sql"))};
        f.Btn_sqlexec->click();
    };
    // Succeeds, with its transaction left open.
    runScript("BEGIN TRANSACTION;\nupdate a15 set pic='S1' where bh=1;\n");
    EXPECT_EQ(h.dialogs.errors.size(), 1);
    EXPECT_TRUE(h.dialogs.errors.join("\n").contains(rolledBack));
    EXPECT_TRUE(h.dialogs.messages.isEmpty()) << "its changes were not kept: no 已执行！";
    pty.write("E001\r\n");
    ASSERT_TRUE(test::pumpUntil([&] { return f.LB_rec->count() == 1; }));

    // Fails half-way through its transaction.
    runScript(
        "BEGIN;\nupdate a15 set pic='S2' where bh=2;\ninsert into no_such_table values (1);\n");
    EXPECT_EQ(h.dialogs.errors.size(), 1) << "one report: the failure and the rollback";
    EXPECT_TRUE(h.dialogs.errors.join("\n").contains("no_such_table")) << "the database's words";
    EXPECT_TRUE(h.dialogs.errors.join("\n").contains(rolledBack));
    pty.write("E002\r\n");
    ASSERT_TRUE(test::pumpUntil([&] { return f.LB_rec->count() == 2; }));

    // A script that commits what it began is left alone.
    runScript("BEGIN;\nupdate a15 set pic='S3' where bh=3;\nCOMMIT;\n");
    EXPECT_EQ(h.dialogs.messages, QStringList{"已执行！"});
    EXPECT_TRUE(h.dialogs.errors.isEmpty()) << h.dialogs.errors.join("\n").toStdString();

    // Seen through another connection while the station still runs: the
    // scans' marks are stored, the rolled-back updates are not.
    EXPECT_EQ(
        h.records("a15", path.file()),
        (std::vector<std::string>{"1|E001|NULL|True", "2|E002|NULL|True", "3|E003|S3|False"}));
    EXPECT_TRUE(TForm1::isGreen(f.btn_databaseset));
}

INSTANTIATE_TEST_SUITE_P(Paths, DataFlow, ::testing::Values(Path{"embedded"}, Path{"odbc"}),
                         [](const auto& info) { return std::string(info.param.name); });

int main(int argc, char** argv) {
    return vx::test::runWindowTests(argc, argv);
}
