// The installed Debian package as a new user meets it: its files where the
// desktop looks for them, the desktop entry's command starting a station in
// a fresh folder of the user's, and that station scanning a label through
// the installed simulator. Runs where scripts/test-package.sh has installed
// the package (VEXORA_INSTALLED names the prefix, /usr); skipped elsewhere.

#include "settings/StationSettings.h"
#include "tests/support/LiveStation.h"
#include "tests/support/Processes.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace vx;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// The Exec line of a desktop entry as the desktop runs it: words split at
// blanks, double quotes taken off (no shell, so no ~ is expanded).
std::vector<std::string> execWords(const std::string& desktopFile) {
    std::ifstream in(desktopFile);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Exec=", 0) != 0)
            continue;
        std::vector<std::string> words(1);
        bool quoted = false;
        for (char c : line.substr(5)) {
            if (c == '"')
                quoted = !quoted;
            else if (c == ' ' && !quoted)
                words.emplace_back();
            else
                words.back() += c;
        }
        return words;
    }
    return {};
}

} // namespace

TEST(InstalledPackage, TheDesktopEntryStartsAStationInAFreshFolderThatScansALabel) {
    const char* installed = std::getenv("VEXORA_INSTALLED");
    if (!installed)
        GTEST_SKIP() << "the package is not installed (scripts/test-package.sh installs it)";
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs the private X display";
    const std::string prefix = installed;

    for (const char* program : {"vexora", "vexora-import", "vexora-journal", "vexora-btprint",
                                "vexora-portcheck", "vexora-scanner-sim"})
        EXPECT_EQ(::access((prefix + "/bin/" + program).c_str(), X_OK), 0) << program;
    for (const char* file :
         {"help.txt", "chong_d.wav", "0.wav", "9.wav", "vexora-label.glabels", "vexora-label.zpl"})
        EXPECT_TRUE(fs::exists(prefix + "/share/vexora/" + file)) << file;
    EXPECT_TRUE(fs::exists(prefix + "/share/icons/hicolor/256x256/apps/vexora.png"));
    const std::string entry = prefix + "/share/applications/vexora.desktop";
    const std::vector<std::string> exec = execWords(entry);
    ASSERT_EQ(exec, (std::vector<std::string>{"vexora", "--station", "~/vexora-station"}));

    // A user with nothing yet: the entry's command, run as the desktop runs
    // it, makes the station folder in the user's home and fills it.
    test::TempDir home;
    const std::string folder = home.path() + "/vexora-station";
    const std::vector<std::string> env = {"HOME=" + home.path()};
    {
        test::Child first(exec, home.path(), false, env, true);
        // First it asks for the scanner's port, before its window shows;
        // Enter answers (again, should a key come before the box has focus).
        std::string window;
        ASSERT_TRUE(test::waitUntil(
            [&] {
                if (!test::run("xdotool search --onlyvisible --name '^Vexora$' 2>/dev/null")
                         .empty()) {
                    test::run("xdotool key Return");
                    std::this_thread::sleep_for(500ms); // for the box to close
                }
                window = test::run("xdotool search --onlyvisible --name '^Vexora — " + folder +
                                   "$' 2>/dev/null");
                return !window.empty();
            },
            20s))
            << "no window titled with the station's folder";
        window = window.substr(0, window.find('\n'));
        // Qt hands the window manager the sizes up to 128.
        const std::string icon = test::run("xprop -id " + window + " _NET_WM_ICON");
        EXPECT_NE(icon.find("Icon (16 x 16)"), std::string::npos) << icon.substr(0, 200);
        EXPECT_NE(icon.find("Icon (128 x 128)"), std::string::npos)
            << "the window carries the station's icon";
    }
    EXPECT_EQ(settings::StationSettings(folder + "/").database().server, "station.db");
    EXPECT_EQ(test::readFile(folder + "/chong_d.wav"),
              test::readFile(prefix + "/share/vexora/chong_d.wav"));
    EXPECT_TRUE(fs::exists(folder + "/vexora-label.glabels"));

    // Its labels through the installed import tool, which finds the same
    // folder; then the scanner, and one label scanned.
    test::writeFile(home.path() + "/labels.txt", "VX000001\r\nVX000002\r\nVX000003\r\n");
    int rc = -1;
    const std::string imported =
        test::run("cd '" + home.path() + "' && HOME='" + home.path() +
                      "' vexora-import --station '~/vexora-station' " + "labels.txt 2>&1",
                  &rc);
    ASSERT_EQ(rc, 0) << imported;
    settings::StationSettings(folder + "/").setPortName(folder + "/scanner");

    test::LiveStation::Setup setup{exec, env, prefix + "/bin/vexora-scanner-sim", folder};
    test::LiveStation st(setup, {"--suffix", "none", "--quiet"}, true);
    ASSERT_TRUE(st.waitReady(20s)) << st.dump();
    ASSERT_TRUE(st.switchComparisonOn()) << st.dump();
    const long before = st.seq();
    st.scanner().writeLine("VX000002");
    EXPECT_TRUE(test::waitUntil(
        [&] { return st.seq() > before && st.get("Label14") == "2" && st.get("LB_rec") == "2"; },
        10s))
        << st.dump();
}
