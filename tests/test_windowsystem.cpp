// The desktop's windows on a real X server (Xvfb in CI): finding a window by
// part of its title and pulling one in front of another application's.

#include <gtest/gtest.h>

// Qt before Xlib: Xlib's macros (Bool, Status) break Qt's headers.
#include "app/WindowSystem.h"

#include <QApplication>
#include <QWidget>
#include <X11/Xlib.h>

using namespace vx::app;

namespace {

// The window that is on top among the root's children, or 0.
Window topOf(Display* d, Window a, Window b) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    Window top = 0;
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n)) {
        for (unsigned i = 0; i < n; ++i)
            if (children[i] == a || children[i] == b)
                top = children[i];
        XFree(children);
    }
    return top;
}

void settle() {
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QApplication::sync();
    }
}

} // namespace

TEST(WindowSystemX11, FindsATitleByPartOfItAndBringsAWindowToTheFront) {
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "needs an X display";
    auto ws = createWindowSystem();
    EXPECT_EQ(ws->findTitleContaining("BarTender Enterprise Automation"), 0u);

    QWidget station, barTender;
    station.setWindowTitle("Vexora");
    barTender.setWindowTitle("Label.btw - BarTender Enterprise Automation");
    station.setGeometry(10, 10, 200, 100);
    barTender.setGeometry(20, 20, 200, 100);
    station.show();
    barTender.show();
    settle();

    const NativeWindow found = ws->findTitleContaining("BarTender Enterprise Automation");
    EXPECT_EQ(found, static_cast<NativeWindow>(barTender.winId()));
    EXPECT_EQ(ws->title(found), "Label.btw - BarTender Enterprise Automation");
    EXPECT_EQ(ws->findTitleContaining("bartender enterprise"), 0u)
        << "the search is case-sensitive";

    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    const Window s = static_cast<Window>(station.winId()),
                 b = static_cast<Window>(barTender.winId());
    // Without a window manager the X server stacks the top-level windows
    // itself; with one, their frames are what is stacked.
    ws->bringToFront(b);
    settle();
    EXPECT_EQ(topOf(d, s, b), b);
    ws->bringToFront(s);
    settle();
    EXPECT_EQ(topOf(d, s, b), s) << "the station came over the other window";
    XCloseDisplay(d);
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
