// Every program of the station as a command, run as a user or a script runs
// them: what --version, --help and a wrong option do; one station folder
// shared by the station and its tools; a port the user may not open.

#include "settings/StationSettings.h"
#include "tests/support/Processes.h"
#include "tests/support/Pty.h"
#include "tests/support/RefusedPort.h"
#include "tests/support/TempDir.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>

using namespace vx;
using namespace std::chrono_literals;

namespace {

struct Ran {
    int exitCode = -1;
    std::string out, err;
};

// Runs a shell command line in a folder of its own (a program that took an
// option for a file name leaves it there); standard output and standard
// error apart.
Ran runCommand(const std::string& command) {
    test::TempDir tmp;
    const std::string errFile = tmp.file("stderr");
    Ran r;
    r.out = test::run("cd '" + tmp.path() + "' && " + command + " 2>'" + errFile + "' </dev/null",
                      &r.exitCode);
    r.err = test::readFile(errFile);
    return r;
}

Ran program(const std::string& name, const std::string& args) {
    // No display: what these options do must not need one.
    return runCommand("env -u DISPLAY -u WAYLAND_DISPLAY " VEXORA_BIN_DIR "/" + name + " " + args);
}

const char* const kPrograms[] = {"vexora",         "vexora-import",    "vexora-journal",
                                 "vexora-btprint", "vexora-portcheck", "vexora-scanner-sim"};

} // namespace

TEST(Programs, EachAnswersVersionAndHelpOnStandardOutputAndExitsWithZero) {
    for (const std::string name : kPrograms) {
        SCOPED_TRACE(name);
        const Ran version = program(name, "--version");
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out, name + " " VEXORA_VERSION "\n");
        EXPECT_EQ(version.err, "");

        for (const char* help : {"--help", "-h"}) {
            const Ran r = program(name, help);
            EXPECT_EQ(r.exitCode, 0) << help << "\n" << r.err;
            EXPECT_EQ(r.out.rfind("usage: " + name + " ", 0), 0u) << help << "\n" << r.out;
            EXPECT_GT(std::count(r.out.begin(), r.out.end(), '\n'), 3) << "more than a line";
            EXPECT_EQ(r.err, "") << help;
        }
    }
}

TEST(Programs, AWrongOptionGivesAUsageLineOnStandardErrorAndExitsWithTwo) {
    for (const std::string name : kPrograms) {
        for (const char* wrong : {"--no-such-option", "--station"}) {
            SCOPED_TRACE(name + " " + wrong);
            if (name == "vexora-scanner-sim" && std::string(wrong) == "--station")
                continue; // the simulator has no station
            const Ran r = program(name, wrong);
            EXPECT_EQ(r.exitCode, 2) << r.err;
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find("\nusage: " + name + " "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(name + ": "), std::string::npos) << "says what was wrong";
        }
    }
}

TEST(Programs, PortcheckAsksForHelpWithoutOpeningAPort) {
    const Ran r = program("vexora-portcheck", "--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.find("Unable to open"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("listening"), std::string::npos) << r.out;
    const Ran none = program("vexora-portcheck", "");
    EXPECT_EQ(none.exitCode, 2) << "no port and no station";
    EXPECT_NE(none.err.find("usage: vexora-portcheck "), std::string::npos);
}

// ---- one station folder, the station and its tools ---------------------------

TEST(StationFolders, TheStationFillsANewFolderAndTheToolsFindTheSameFiles) {
    test::TempDir dir;
    const std::string labels = dir.file("labels.txt");
    test::writeFile(labels, "VX000001\r\nVX000002\r\n");
    const std::string station = dir.file("new/station");
    const std::string probe = dir.file("probe.txt");
    auto startStation = [&](const std::string& folder) {
        return std::make_unique<test::Child>(
            std::vector<std::string>{VEXORA_BIN_DIR "/vexora", "--station", folder}, dir.path(),
            false,
            std::vector<std::string>{"QT_QPA_PLATFORM=offscreen", "VEXORA_UI_PROBE=" + probe},
            true);
    };

    // The station itself, on a folder that does not exist yet: it is filled
    // before the window opens (which then asks for the port).
    {
        auto vexora = startStation(station);
        ASSERT_TRUE(test::waitUntil([&] { return std::filesystem::exists(probe); }, 20s));
    }
    const settings::StationSettings config(station + "/");
    EXPECT_EQ(config.database().server, "station.db");
    EXPECT_EQ(test::readFile(station + "/vexora-label.zpl"),
              test::readFile(VEXORA_BIN_DIR "/vexora-label.zpl"));
    if (std::filesystem::exists(VEXORA_BIN_DIR "/chong_d.wav")) {
        EXPECT_TRUE(std::filesystem::exists(station + "/chong_d.wav"));
    }

    // The import tool fills the database the station named; the station
    // opens it and its port; the journal tool reads what the station wrote.
    const Ran imported = program("vexora-import", "--station '" + station + "' '" + labels + "'");
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    test::Pty pty;
    config.setPortName(pty.slavePath());
    std::filesystem::remove(probe);
    {
        auto vexora = startStation(station);
        EXPECT_TRUE(test::waitUntil(
            [&] {
                auto shown = test::readKeyValues(probe);
                return shown["btn_comset"] == "green" && shown["btn_databaseset"] == "green" &&
                       shown["chk_start_enabled"] == "1";
            },
            20s))
            << test::readFile(probe);
    }
    const Ran ports = program("vexora-journal", "--station '" + station + "' list --kind port");
    EXPECT_EQ(ports.exitCode, 0) << ports.err;
    EXPECT_NE(ports.out.find("opened"), std::string::npos) << ports.out;
    const Ran database =
        program("vexora-journal", "--station '" + station + "' list --kind database");
    EXPECT_NE(database.out.find("station.db"), std::string::npos) << database.out;
}

// ---- a port the user may not open --------------------------------------------

TEST(PortAccess, PortcheckSaysWhichGroupToJoinAndHow) {
    std::string why;
    if (!test::RefusedPort::available(why))
        GTEST_SKIP() << why;
    test::RefusedPort port;
    const std::string asNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
    if (runCommand(asNobody + "test -x " VEXORA_BIN_DIR "/vexora-portcheck").exitCode != 0)
        GTEST_SKIP() << "the user nobody cannot reach " VEXORA_BIN_DIR;

    const Ran r = runCommand(asNobody + VEXORA_BIN_DIR "/vexora-portcheck " + port.path() + " 1");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Unable to open com port (win error code: 13)\n"
                     "Permission denied on " +
                         port.path() +
                         ": only members of the group dialout may open it, and user nobody is "
                         "not one.\nAdd the user to the group, then log out and in again:\n"
                         "  sudo usermod -aG dialout nobody\n");

    // A port that is merely missing gets no such advice.
    const Ran missing = program("vexora-portcheck", "/dev/vexora-missing 1");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err.find("usermod"), std::string::npos) << missing.err;
}
