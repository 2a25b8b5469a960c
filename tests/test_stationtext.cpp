// What the window shows of the texts the core hands it, offscreen: the
// station's own messages (UTF-8 on every platform) exactly, and the bytes of
// scans and of the database as characters of the station's code page. Built
// for Linux and for Windows, where the Wine tests run it under code pages 936
// and 1252.

#include "data/Charset.h"
#include "data/TextImport.h"
#include "print/Backends.h"
#include "scan/ScanEngine.h"
#include "tests/support/StationHarness.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace vx;
using app::TForm1;
using vx::test::scanText;
using vx::test::StationHarness;

namespace {

const std::string kConfig = "[Database]\r\nservername=station.db\r\n";

// A label text with characters beyond ASCII, as bytes of the station's code
// page, and as the characters it stands for; its last character is ASCII.
struct LabelText {
    std::string bytes;
    QString shown;
};

std::optional<LabelText> labelInStationCodePage() {
    const std::string cs = data::stationCharset();
    if (cs == "CP936" || cs == "GBK" || cs == "GB18030")
        return LabelText{"\xB1\xEA\xC7\xA9\xBC\xD7"
                         "01",
                         "标签甲01"};
    if (cs == "CP1252")
        return LabelText{"M\xFCller-12", "Müller-12"};
    if (cs == "UTF-8")
        return LabelText{"标签甲01", "标签甲01"};
    return std::nullopt;
}

QString listItems(QListWidget* w) {
    QStringList l;
    for (int i = 0; i < w->count(); ++i)
        l << w->item(i)->text();
    return l.join('|');
}

} // namespace

TEST(StationTexts, EveryVerdictTextIsShownExactly) {
    StationHarness h;
    h.seedDatabase({"VX000001", "VX000002", "VX000003"});
    TForm1& f = h.start(kConfig);

    scanText(f, "VX000001");
    EXPECT_EQ(f.Label14->text(), "1");
    scanText(f, "VX000003");
    EXPECT_EQ(f.Label14->text(), "3");
    EXPECT_EQ(listItems(f.LB_shao), "2-2");
    scanText(f, "VX000001");
    EXPECT_EQ(f.Label14->text(), "1重复");
    scanText(f, "VX12");
    EXPECT_EQ(f.Label14->text(), "扫到的码有问题！");
    scanText(f, "XX000009");
    EXPECT_EQ(f.Label14->text(), "数据库中查不到");

    // A database that fails under the scan: a15 dropped beside the window.
    h.sql("drop table a15");
    scanText(f, "VX000002");
    EXPECT_EQ(f.Label14->text(), "数据库出错，本次扫描未记录！");
}

TEST(StationTexts, TheTemplateDialogGetsTheFilterAsTheCoreWroteIt) {
    StationHarness h;
    TForm1& f = h.start(kConfig);
    f.btn_btprn->click();
    ASSERT_EQ(h.dialogs.filters.size(), 1);
    EXPECT_EQ(h.dialogs.filters[0], QString::fromUtf8(print::templateFilter(h.printBackends)));
    EXPECT_TRUE(h.dialogs.filters[0].contains("所有文件 (*.*)"))
        << h.dialogs.filters[0].toStdString();
}

TEST(StationTexts, TheImportBoxLeftAtItsPresetImportsNothing) {
    StationHarness h;
    h.seedDatabase({"KEEP"});
    TForm1& f = h.start(kConfig);
    test::writeFile(h.dir.file("labels.txt"), "NEW1\r\nNEW2\r\n");
    h.dialogs.files = {QString::fromLocal8Bit(h.dir.file("labels.txt").c_str())};
    h.dialogs.answers = {app::Dialogs::Answer::Yes};
    h.dialogs.messages.clear();
    // No input: the box returns its preset, as when the operator cancels.
    f.btn_txtimport->click();
    EXPECT_EQ(h.records(), std::vector<std::string>{"1|KEEP|NULL|False"});
    EXPECT_TRUE(h.dialogs.messages.isEmpty()) << h.dialogs.messages.join('|').toStdString();
    EXPECT_TRUE(h.dialogs.errors.isEmpty()) << h.dialogs.errors.join('|').toStdString();
}

TEST(StationTexts, ALabelTextInTheStationsCodePageIsShownAsItsCharacters) {
    const auto label = labelInStationCodePage();
    if (!label)
        GTEST_SKIP() << "no sample label for " << data::stationCharset();
    StationHarness h;
    h.seedDatabase({label->bytes});
    TForm1& f = h.start(kConfig);
    f.btn_databaseset->click(); // shows a15 in the grid
    ASSERT_EQ(f.DataSource1.rowCount(), 1);
    int tt = -1;
    for (int c = 0; c < f.DataSource1.columnCount(); ++c)
        if (f.DataSource1.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString() == "tt")
            tt = c;
    ASSERT_GE(tt, 0);
    EXPECT_EQ(f.DataSource1.data(f.DataSource1.index(0, tt), Qt::DisplayRole).toString(),
              label->shown);

    // Scanned: found byte for byte, and the scan shown as its characters.
    scanText(f, label->bytes);
    EXPECT_EQ(f.Label14->text(), "1");
    EXPECT_EQ(f.edit_rec->text(), label->shown);
    EXPECT_EQ(f.edit_recstr->text(), label->shown);
    // A scan one character short is a wrong code, listed as its characters.
    scanText(f, label->bytes.substr(0, label->bytes.size() - 1));
    EXPECT_EQ(f.Label14->text(), "扫到的码有问题！");
    EXPECT_EQ(listItems(f.Lb_cuo), label->shown.left(label->shown.size() - 1));
}

int main(int argc, char** argv) {
    return vx::test::runWindowTests(argc, argv);
}
