// The station window on a 1366 x 768 screen (VEXORA_TEST_SCREEN, set where
// the test is registered), the commonest on shop floors: the form keeps its
// layout and sizes, the window fits the screen, and every control can be
// scrolled to and used. A picture of it goes to $VEXORA_ARTIFACTS.

#include "tests/support/StationHarness.h"

#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace vx;

namespace {

// The form the controls stand on, and the scroll area that shows it.
QWidget* form(app::TForm1& f) {
    return f.btn_datato->parentWidget();
}
QScrollArea* scroller(app::TForm1& f) {
    return f.findChild<QScrollArea*>("formScroller");
}

// Every control the operator can see on the form: named, and shown.
std::vector<QWidget*> visibleControls(app::TForm1& f) {
    std::vector<QWidget*> out;
    for (QWidget* w : form(f)->findChildren<QWidget*>()) {
        // Parts of a control (a list's viewport, a grid's header) go with it.
        const bool control =
            w->parentWidget() == form(f) || qobject_cast<QGroupBox*>(w->parentWidget()) != nullptr;
        if (control && !w->objectName().startsWith("qt_") && w->isVisibleTo(form(f)))
            out.push_back(w);
    }
    return out;
}

} // namespace

class SmallScreen : public ::testing::Test {
protected:
    void SetUp() override {
        const QSize screen = QGuiApplication::primaryScreen()->size();
        if (screen != QSize(1366, 768))
            GTEST_SKIP() << "run with VEXORA_TEST_SCREEN=1366x768 (the screen is " << screen.width()
                         << "x" << screen.height() << ")";
        h.seedDatabase({"VX1", "VX2", "VX3"});
    }
    test::StationHarness h;
};

TEST_F(SmallScreen, TheWindowFitsTheScreenAndTheFormKeepsItsLayoutAndSizes) {
    app::TForm1& f = h.start("[Database]\r\nservername=station.db\r\n");
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(room.contains(f.frameGeometry()))
        << f.frameGeometry().x() << "," << f.frameGeometry().y() << " " << f.frameGeometry().width()
        << "x" << f.frameGeometry().height();
    // Room for the frame Windows draws (title bar and borders, 39 x 16 px).
    EXPECT_LE(f.height() + 39, room.height());
    EXPECT_LE(f.width() + 16, room.width());
    EXPECT_EQ(form(f)->size(), QSize(1034, 814)) << "100 %, no scaling";
    EXPECT_EQ(f.btn_datato->geometry(), QRect(887, 735, 75, 25));
    EXPECT_EQ(f.Button6->geometry(), QRect(304, 728, 75, 25));
    EXPECT_LT(f.height(), 814) << "the form scrolls";
    ASSERT_NE(scroller(f), nullptr) << "the form can be scrolled";
    EXPECT_TRUE(scroller(f)->verticalScrollBar()->isVisible());
    EXPECT_FALSE(scroller(f)->horizontalScrollBar()->isVisible())
        << "the screen is wide enough for the form and its scroll bar: " << f.width() << " "
        << scroller(f)->viewport()->width() << " " << scroller(f)->verticalScrollBar()->width();
}

TEST_F(SmallScreen, EveryControlCanBeScrolledToAndUsed) {
    app::TForm1& f = h.start("[Database]\r\nservername=station.db\r\n");
    ASSERT_NE(scroller(f), nullptr) << "the form can be scrolled";
    QWidget* viewport = scroller(f)->viewport();
    const std::vector<QWidget*> controls = visibleControls(f);
    ASSERT_GT(controls.size(), 60u);
    for (QWidget* w : controls) {
        scroller(f)->ensureWidgetVisible(w, 0, 0);
        const QRect onViewport(w->mapTo(viewport, QPoint(0, 0)), w->size());
        EXPECT_TRUE(viewport->rect().contains(onViewport))
            << w->objectName().toStdString() << " cannot be brought into view";
    }
    // The lowest controls of the layout, used where they are reached.
    f.station.LB_shao.append("3-4");
    f.renderResults();
    scroller(f)->ensureWidgetVisible(f.Button6, 0, 0);
    QTest::mouseClick(f.Button6, Qt::LeftButton);
    EXPECT_EQ(f.LB_shao->count(), 0) << "清空 at the bottom of the scan area";
    scroller(f)->ensureWidgetVisible(f.btn_datato, 0, 0);
    EXPECT_TRUE(f.btn_datato->isEnabled());
    h.dialogs.answers = {};
    QTest::mouseClick(f.btn_datato, Qt::LeftButton); // asks for a file: none given
    EXPECT_TRUE(h.dialogs.errors.isEmpty());

    // What the operator sees, scrolled to the bottom right.
    const QString dir = qEnvironmentVariableIsSet("VEXORA_ARTIFACTS")
                            ? qEnvironmentVariable("VEXORA_ARTIFACTS")
                            : QDir::currentPath();
    QDir().mkpath(dir);
    scroller(f)->ensureWidgetVisible(f.btn_datato, 0, 0);
    EXPECT_TRUE(f.grab().save(dir + "/station-1366x768.png"));
}

int main(int argc, char** argv) {
    return vx::test::runWindowTests(argc, argv);
}
