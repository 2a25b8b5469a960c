// The station's Win32 window code under Wine on an X server: another
// application's two windows carry BarTender's title text and hold the
// foreground; the window system must find the top one of them by part of its
// title, walking the Z order, and pull the station in front of it.
//
// Where Wine differs from Windows here (seen on Wine 8):
//  - Wine does not lock the foreground: a background process may take it
//    with SetForegroundWindow alone, so the input attachment that Windows
//    needs is not put to the test; leaving the bring-to-front out is.
//  - Activation does not raise the window in Wine's own Z order without an
//    X window manager (Wine leaves raising to it); Windows raises the window
//    it activates. So the station is checked to be the foreground and active
//    window, which is what Windows' raise follows from, not to be on top.

#include "tests/support/Wine.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>

using vx::test::WinePrefix;

namespace {

std::map<std::string, std::string> facts(const std::string& out) {
    std::map<std::string, std::string> m;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(": ");
        if (colon != std::string::npos)
            m[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return m;
}

TEST(WineWindowSystem, FindsTheTopWindowByPartOfItsTitleAndBringsTheStationToTheFront) {
    WinePrefix wine(true);
    const auto r = wine.run({WinePrefix::windowsProgram("vexora-windowprobe.exe")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    auto f = facts(r.out);
    ASSERT_EQ(f["other application in front"], "yes") << r.out;
    ASSERT_EQ(f["top before"], "second");

    EXPECT_EQ(f["found"], "second") << "the first match from the top of the Z order";
    EXPECT_EQ(f["title"], "Label.btw - BarTender Enterprise Automation");
    EXPECT_EQ(f["found by other case"], "none") << "the search is case-sensitive";
    EXPECT_EQ(f["found first"], "first") << "a window further down is found by its own text";

    EXPECT_EQ(f["foreground after"], "station") << r.out;
    EXPECT_EQ(f["active after"], "station");
    EXPECT_EQ(f["found after"], "second") << "the other application's windows keep their order";
}

} // namespace
