// Where a station keeps its files: beside a program run from its own folder,
// in a folder of the user's for an installed program, and how a new one is
// filled on first start.

#include "data/NewFile.h"
#include "settings/StationFolder.h"
#include "settings/StationSettings.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace vx;
using settings::StationPlace;
using test::readFile;
using test::writeFile;

namespace {

namespace fs = std::filesystem;

std::set<std::string> filesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

// A program's folder with its own files, each holding its own name; and
// $HOME pointed at a folder of the test's for the default station.
class StationFolder : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(program);
        writeFile(program + "help.txt", "help");
        for (std::size_t i = 0; i < settings::kStationFileCount; ++i)
            writeFile(program + settings::kStationFiles[i], settings::kStationFiles[i]);
        const char* h = std::getenv("HOME");
        savedHome = h ? h : "";
        ::setenv("HOME", home.c_str(), 1);
    }
    void TearDown() override { ::setenv("HOME", savedHome.c_str(), 1); }

    test::TempDir dir;
    const std::string program = dir.file("program/");
    const std::string home = dir.file("home");
    std::string savedHome;
};

} // namespace

TEST_F(StationFolder, ANewFolderIsCreatedAndFilledWithTheSoundsTemplatesAndDefaults) {
    const StationPlace place = settings::locateStation(program, dir.file("a/b/station"));
    EXPECT_EQ(place.folder, dir.file("a/b/station/"));
    EXPECT_FALSE(place.ownFolder);

    const auto made = settings::prepareStationFolder(place);
    EXPECT_EQ(made.size(), settings::kStationFileCount + 1);
    EXPECT_EQ(made.back(), "config.ini");
    for (std::size_t i = 0; i < settings::kStationFileCount; ++i)
        EXPECT_EQ(readFile(place.folder + settings::kStationFiles[i]), settings::kStationFiles[i]);
    EXPECT_EQ(filesIn(place.folder).count("help.txt"), 0u)
        << "the help stays with the program, so an update reaches every station";

    const settings::StationSettings config(place.folder);
    EXPECT_EQ(config.database().server, "station.db") << "the embedded database";
    EXPECT_EQ(config.database().user, "sa");
    EXPECT_EQ(config.portName(), "");
    EXPECT_EQ(config.codeFieldStart(), "1");
    EXPECT_EQ(config.codeFieldLength(), "0");
    EXPECT_EQ(config.columnCount(), "1");
    EXPECT_EQ(config.lastPrinted(), "0");
    EXPECT_EQ(config.templatePath(), "");
    struct stat st {};
    ASSERT_EQ(::stat((place.folder + "config.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "it will hold the database password";
}

TEST_F(StationFolder, AFolderWithAConfigIsUsedAsItIsAndAFillCutShortIsFinished) {
    const std::string used = dir.file("used/");
    fs::create_directories(used);
    writeFile(used + "config.ini", "[com]\r\nnum=/dev/ttyUSB0\r\n");
    const StationPlace a = settings::locateStation(program, used);
    EXPECT_TRUE(settings::prepareStationFolder(a).empty());
    EXPECT_EQ(filesIn(used), std::set<std::string>{"config.ini"});
    EXPECT_EQ(readFile(used + "config.ini"), "[com]\r\nnum=/dev/ttyUSB0\r\n");

    // No config.ini yet: the start was cut short, or the user made the
    // folder. What is there stays (an own recording of a digit, say).
    const std::string begun = dir.file("begun/");
    fs::create_directories(begun);
    writeFile(begun + "3.wav", "our own three");
    const auto made = settings::prepareStationFolder(settings::locateStation(program, begun));
    EXPECT_EQ(readFile(begun + "3.wav"), "our own three");
    EXPECT_EQ(std::count(made.begin(), made.end(), "3.wav"), 0);
    EXPECT_EQ(made.size(), settings::kStationFileCount);
    EXPECT_TRUE(fs::exists(begun + "config.ini"));
}

TEST_F(StationFolder, WithoutStationTheProgramsOwnFolderUnlessItIsInstalled) {
    // Run from its own folder (the demo, a copied folder, Windows): the
    // station is the program's folder, taken as it is.
    const StationPlace own = settings::locateStation(program, "");
    EXPECT_TRUE(own.ownFolder);
    EXPECT_EQ(own.folder, program);
    EXPECT_EQ(own.programFiles, program);
    EXPECT_TRUE(settings::prepareStationFolder(own).empty());
    EXPECT_FALSE(fs::exists(program + "config.ini")) << "first start writes it, not the folder";

    // Installed: bin/ holds only programs, share/vexora/ their files.
    const std::string bin = dir.file("usr/bin/"), share = dir.file("usr/share/vexora/");
    fs::create_directories(bin);
    fs::create_directories(share);
    writeFile(share + "help.txt", "installed help");
    writeFile(share + "chong_d.wav", "alarm");
    const StationPlace installed = settings::locateStation(bin, "");
    EXPECT_FALSE(installed.ownFolder);
    EXPECT_EQ(installed.folder, home + "/vexora-station/");
    EXPECT_EQ(installed.programFiles, bin + "../share/vexora/");
    settings::prepareStationFolder(installed);
    EXPECT_EQ(readFile(home + "/vexora-station/chong_d.wav"), "alarm");
    EXPECT_EQ(settings::helpFile(installed), bin + "../share/vexora/help.txt");
    writeFile(installed.folder + "help.txt", "this line's own help");
    EXPECT_EQ(settings::helpFile(installed), installed.folder + "help.txt");

    // --station as a desktop entry passes it (no shell expands the ~), and
    // relative to the current folder.
    EXPECT_EQ(settings::locateStation(bin, "~/line2").folder, home + "/line2/");
    EXPECT_EQ(settings::locateStation(bin, "~").folder, home + "/");
    EXPECT_EQ(settings::locateStation(bin, "~user/x").folder,
              fs::current_path().string() + "/~user/x/")
        << "another user's home is not looked up";
    EXPECT_EQ(settings::locateStation(bin, "rel/st").folder,
              fs::current_path().string() + "/rel/st/");
}

TEST_F(StationFolder, AFolderThatCannotBeMadeIsAnErrorNamingIt) {
    writeFile(dir.file("taken"), "a file, not a folder");
    const StationPlace place = settings::locateStation(program, dir.file("taken/station"));
    try {
        settings::prepareStationFolder(place);
        FAIL() << "no error";
    } catch (const data::FileError& e) {
        EXPECT_NE(std::string(e.what()).find(dir.file("taken")), std::string::npos) << e.what();
    }
}
