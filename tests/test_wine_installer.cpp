// The Windows installer under Wine, in a fresh prefix: installed silently
// into C:\Vexora, the installed tools and station used from there (a label
// database made by the installed vexora-import.exe, the station opening it
// and the scanner on COM1), then uninstalled silently: the program's files go,
// the station's data stays unless asked to go too.

#include "tests/support/Processes.h"
#include "tests/support/Wine.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>

using namespace std::chrono_literals;
using vx::test::readFile;
using vx::test::waitUntil;
using vx::test::WinePrefix;
using vx::test::writeFile;
namespace fs = std::filesystem;

namespace {

const std::set<std::string> kProgramFiles = {"vexora.exe",
                                             "vexora-import.exe",
                                             "vexora-journal.exe",
                                             "vexora-btprint.exe",
                                             "vexora-portcheck.exe",
                                             "help.txt",
                                             "uninstall.exe",
                                             "0.wav",
                                             "1.wav",
                                             "2.wav",
                                             "3.wav",
                                             "4.wav",
                                             "5.wav",
                                             "6.wav",
                                             "7.wav",
                                             "8.wav",
                                             "9.wav",
                                             "chong_d.wav"};

std::set<std::string> filesIn(const std::string& folder) {
    std::set<std::string> names;
    if (fs::exists(folder))
        for (const auto& e : fs::directory_iterator(folder))
            names.insert(e.path().filename().string());
    return names;
}

class Installed {
public:
    Installed() : m_wine(true), m_folder(m_wine.prefix() + "/drive_c/Vexora") {}
    WinePrefix& wine() { return m_wine; }
    const std::string& folder() const { return m_folder; }
    std::string startMenu() const {
        return m_wine.prefix() +
               "/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vexora";
    }

    vx::test::WineRun install() {
        return m_wine.run({VEXORA_WINDOWS_INSTALLER, "/S", "/D=C:\\Vexora"}, 300s);
    }
    // The uninstaller runs a copy of itself from the temporary folder and
    // returns at once; done when its own file, which it removes last, is
    // gone.
    bool uninstall(const std::vector<std::string>& options) {
        std::vector<std::string> argv = {"C:\\Vexora\\uninstall.exe", "/S"};
        argv.insert(argv.end(), options.begin(), options.end());
        if (m_wine.run(argv, 120s).status != 0)
            return false;
        return waitUntil([&] { return !fs::exists(m_folder + "/uninstall.exe"); }, 120s);
    }
    bool registered() {
        return m_wine
                   .run({"reg", "query",
                         "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexora"})
                   .out.find("UninstallString") != std::string::npos;
    }

private:
    WinePrefix m_wine;
    std::string m_folder;
};

} // namespace

TEST(WineInstaller, InstallsRunsTheStationFromItsFolderAndUninstallsKeepingTheStationsData) {
    Installed in;
    const vx::test::WineRun setup = in.install();
    ASSERT_EQ(setup.status, 0) << setup.out << setup.err;
    std::set<std::string> installed = kProgramFiles;
    installed.insert("vexora-label.zpl");
    EXPECT_EQ(filesIn(in.folder()), installed);
    EXPECT_TRUE(fs::exists(in.startMenu() + "/Vexora.lnk"));
    EXPECT_TRUE(in.registered()) << "listed among the installed programs";
    for (const char* program :
         {"vexora", "vexora-import", "vexora-journal", "vexora-btprint", "vexora-portcheck"}) {
        const auto version =
            in.wine().run({std::string("C:\\Vexora\\") + program + ".exe", "--version"});
        // Text written on Windows ends its lines with CR LF.
        EXPECT_EQ(version.out, std::string(program) + " " VEXORA_VERSION "\r\n") << version.err;
    }

    // The station's folder is its own: the installed import tool finds
    // config.ini beside itself and fills the database it names.
    const std::string config = "[Database]\r\nservername=station.db\r\n[com]\r\nnum=COM1\r\n"
                               "[STR]\r\nstrstart=1\r\nstrnum=8\r\n";
    writeFile(in.folder() + "/config.ini", config);
    writeFile(in.folder() + "/labels.txt", "VX000001\r\nVX000002\r\n");
    const auto imported =
        in.wine().run({"C:\\Vexora\\vexora-import.exe", "C:\\Vexora\\labels.txt"}, 120s);
    ASSERT_EQ(imported.status, 0) << imported.out << imported.err;

    // The installed station opens that database and the scanner on COM1
    // (the simulator's pseudo-terminal), and a scan reaches its window.
    {
        const std::string link = in.wine().file("scanner"), probe = in.wine().file("probe.txt");
        vx::test::Child scanner(
            {VEXORA_BIN_DIR "/vexora-scanner-sim", "--link", link, "--suffix", "cr", "--quiet"}, "",
            true, {}, true);
        ASSERT_TRUE(waitUntil([&] { return fs::exists(link); }, 5s));
        const std::string com1 = in.wine().prefix() + "/dosdevices/com1";
        fs::remove(com1);
        fs::create_symlink(fs::read_symlink(link), com1);
        auto station =
            in.wine().start({"C:\\Vexora\\vexora.exe"},
                            {"VEXORA_UI_PROBE=" + WinePrefix::windowsPath(probe)}, in.folder());
        auto shown = [&](const std::string& key) { return vx::test::readKeyValues(probe)[key]; };
        ASSERT_TRUE(waitUntil(
            [&] { return shown("btn_comset") == "green" && shown("btn_databaseset") == "green"; },
            90s))
            << readFile(probe);
        scanner.writeLine("VX000002");
        EXPECT_TRUE(waitUntil([&] { return shown("edit_rec") == "VX000002\\r"; }, 30s))
            << readFile(probe);
    }
    writeFile(in.folder() + "/error.log", "2026-12-08 10:00:00  print job 1-2 failed\r\n");
    const std::string written = readFile(in.folder() + "/config.ini"); // lastnum=0 added
    std::set<std::string> data;
    for (const std::string& f : filesIn(in.folder()))
        if (!kProgramFiles.count(f))
            data.insert(f);
    for (const char* f : {"config.ini", "station.db", "vexora-journal.db", "error.log"})
        EXPECT_TRUE(data.count(f)) << f << " was made in the station's folder";

    // Uninstalled silently: the program goes, what the station wrote stays.
    ASSERT_TRUE(in.uninstall({}));
    EXPECT_TRUE(waitUntil([&] { return filesIn(in.folder()) == data; }, 30s))
        << "left: " << ::testing::PrintToString(filesIn(in.folder()));
    EXPECT_EQ(readFile(in.folder() + "/config.ini"), written);
    EXPECT_FALSE(fs::exists(in.startMenu()));
    EXPECT_FALSE(in.registered());

    // Installed again over the kept data, then removed with it: only what
    // the station never had (the user's own label file) is left.
    ASSERT_EQ(in.install().status, 0);
    EXPECT_EQ(readFile(in.folder() + "/config.ini"), written) << "an installation keeps it";
    ASSERT_TRUE(in.uninstall({"/REMOVEDATA"}));
    EXPECT_TRUE(
        waitUntil([&] { return filesIn(in.folder()) == std::set<std::string>{"labels.txt"}; }, 30s))
        << "left: " << ::testing::PrintToString(filesIn(in.folder()));
}
