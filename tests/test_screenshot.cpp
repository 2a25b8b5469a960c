// Renders the station window on a real X server (Xvfb in CI) after a few
// scans and saves it as station.png in $VEXORA_ARTIFACTS (default: the
// working folder), so a person can see every caption.

#include "tests/support/StationHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace vx;

TEST(Screenshot, TheWindowRendersItsChineseCaptions) {
    if (QGuiApplication::platformName() == "offscreen")
        GTEST_SKIP() << "no X display";
    test::StationHarness h;
    h.seedDatabase({"C001", "C002", "C003", "C004", "C005"});
    h.config("[Database]\r\nservername=station.db\r\n[STR]\r\nstrstart=1\r\nstrnum=4\r\n");
    app::TForm1& f = h.start();
    f.station.com31RxChar("C001\r\n", {true, true, true, false});
    f.station.com31RxChar("C003\r\n", {true, true, true, false});
    f.station.com31RxChar("C003\r\n", {true, false, true, false});
    f.station.com31RxChar("XX12\r\n", {true, true, true, false});
    // Too short: the whole scan with its CR LF goes to the wrong-code list.
    f.station.com31RxChar("X\r\n", {true, true, true, false});
    f.renderScan();
    QApplication::processEvents();

    // Every caption must have glyphs: a CJK font is installed and chosen.
    for (QWidget* w : {static_cast<QWidget*>(f.btn_comset), static_cast<QWidget*>(f.chk_start),
                       static_cast<QWidget*>(f.Label5)}) {
        QFontMetrics fm(w->font());
        EXPECT_TRUE(fm.inFontUcs4(0x4FDD)) << w->objectName().toStdString() << " lacks CJK glyphs";
    }
    const QImage shot = f.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(1034, 814));
    const QString dir = qEnvironmentVariableIsSet("VEXORA_ARTIFACTS")
                            ? qEnvironmentVariable("VEXORA_ARTIFACTS")
                            : QDir::currentPath();
    QDir().mkpath(dir);
    EXPECT_TRUE(shot.save(dir + "/station.png"));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vexora");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
