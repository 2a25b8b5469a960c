#include "settings/IniFile.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using vx::settings::IniFile;
using vx::settings::IniWriteError;
using vx::test::readFile;
using vx::test::TempDir;
using vx::test::utf16;
using vx::test::writeFile;

namespace {

// A folder of the test's own and its config.ini.
class IniFileTest : public ::testing::Test {
protected:
    TempDir dir;
    const std::string path = dir.file("config.ini");
};
using IniFileRead = IniFileTest;
using IniFileWrite = IniFileTest;
using IniFileUtf16 = IniFileTest;

} // namespace

TEST_F(IniFileRead, MissingFileAndMissingKeyGiveTheDefault) {
    IniFile ini(path);
    EXPECT_EQ(ini.readString("Database", "username", "sa"), "sa");
    writeFile(path, "[Database]\r\nservername=srv\r\n");
    EXPECT_EQ(ini.readString("Database", "username", "sa"), "sa");
    EXPECT_EQ(ini.readString("STR", "servername", "x"), "x") << "a key of another section";
}

TEST_F(IniFileRead, PresentEmptyKeyReadsAsEmptyNotDefault) {
    writeFile(path, "[STR]\nstrnum=\n");
    EXPECT_EQ(IniFile(path).readString("STR", "strnum", "0"), "");
}

TEST_F(IniFileRead, NamesMatchWithoutCaseAndValuesAreTrimmedAndUnquoted) {
    writeFile(path, "; comment\r\n[dataBASE]\r\n  ServerName =  srv1 \r\nmm=\"a b \"\r\n");
    IniFile ini(path);
    EXPECT_EQ(ini.readString("Database", "servername", ""), "srv1");
    EXPECT_EQ(ini.readString("DATABASE", "MM", ""), "a b ");
}

TEST_F(IniFileRead, LongValuesAreCutTo2047Bytes) {
    writeFile(path, "[print]\nbtfile=" + std::string(5000, 'x') + "\n");
    EXPECT_EQ(IniFile(path).readString("print", "btfile", "").size(), 2047u);
}

TEST_F(IniFileWrite, FirstWriteCreatesTheFileOwnerOnly) {
    IniFile ini(path);
    ini.writeString("print", "lastnum", "0");
    EXPECT_EQ(readFile(path), "[print]\r\nlastnum=0\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(IniFileWrite, KeepsEveryOtherLineAndReplacesInPlace) {
    const std::string before =
        "; station "
        "settings\r\n[Database]\r\nservername=a\r\n\r\n[print]\r\nLastNum=5\r\nbtfile=x.btw\r\n";
    writeFile(path, before);
    IniFile ini(path);
    ini.writeString("PRINT", "lastnum", "6");
    ini.writeString("Database", "mm", "p;w}");
    ini.writeString("com", "num", "COM3");
    EXPECT_EQ(readFile(path),
              "; station "
              "settings\r\n[Database]\r\nservername=a\r\nmm=p;w}\r\n\r\n[print]\r\nlastnum=6\r\n"
              "btfile=x.btw\r\n[com]\r\nnum=COM3\r\n");
    EXPECT_EQ(ini.readString("database", "mm", ""), "p;w}");
}

TEST_F(IniFileWrite, ExistingFileKeepsItsPermissionsAndLineEnds) {
    writeFile(path, "[a]\nk=1\n");
    ::chmod(path.c_str(), 0640);
    IniFile(path).writeString("a", "k", "2");
    EXPECT_EQ(readFile(path), "[a]\nk=2\n");
    struct stat st {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(IniFileWrite, SeveralObjectsOnOnePathSeeEachOthersWrites) {
    IniFile a(path), b(path);
    a.writeString("STR", "strstart", "3");
    EXPECT_EQ(b.readString("STR", "strstart", "1"), "3");
    b.writeString("STR", "strstart", "4");
    a.writeString("STR", "strnum", "6");
    EXPECT_EQ(a.readString("STR", "strstart", "1"), "4");
    EXPECT_EQ(b.readString("STR", "strnum", "0"), "6");
}

TEST_F(IniFileWrite, FailedWriteRaisesUnableToWriteAndLeavesTheFileWhole) {
    // A folder where the temporary file would go makes the write fail for
    // every user, root included.
    writeFile(path, "[print]\r\nlastnum=7\r\n");
    ASSERT_EQ(::mkdir((path + ".tmp").c_str(), 0700), 0);
    try {
        IniFile(path).writeString("print", "lastnum", "8");
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_EQ(readFile(path), "[print]\r\nlastnum=7\r\n");
    EXPECT_EQ(IniFile(path).readString("print", "lastnum", ""), "7");
}

TEST_F(IniFileWrite, AReadOnlyFileIsAFailedWriteAlsoForRoot) {
    writeFile(path, "[print]\r\nlastnum=7\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    try {
        IniFile(path).writeString("print", "lastnum", "8");
        FAIL() << "a read-only file was replaced";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    EXPECT_EQ(readFile(path), "[print]\r\nlastnum=7\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST_F(IniFileWrite, ALineBreakOrNulInANameOrValueIsRefusedAndNothingIsInjected) {
    const std::string before = "[Database]\r\nservername=station.db\r\n";
    writeFile(path, before);
    const std::string nul("a\0[x]", 5);
    for (const std::string& bad :
         {std::string("a\r\n[evil]\r\nk=v"), std::string("a\nk=v"), std::string("a\rk=v"), nul}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(IniFile(path).writeString("Database", "mm", bad), IniWriteError);
        EXPECT_THROW(IniFile(path).writeString("Database", bad, "x"), IniWriteError);
        EXPECT_THROW(IniFile(path).writeString(bad, "mm", "x"), IniWriteError);
        EXPECT_EQ(readFile(path), before);
    }
    EXPECT_EQ(IniFile(path).readString("evil", "k", "none"), "none");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST_F(IniFileWrite, APlantedTemporaryNameIsNeverFollowedAndAStaleOneIsReplaced) {
    const std::string victim = dir.file("victim");
    writeFile(path, "[print]\r\nlastnum=7\r\n");
    writeFile(victim, "keep me");
    ASSERT_EQ(::symlink(victim.c_str(), (path + ".tmp").c_str()), 0);
    IniFile(path).writeString("print", "lastnum", "8");
    EXPECT_EQ(readFile(victim), "keep me") << "the link was followed";
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "config.ini must be a file of its own";
    EXPECT_EQ(readFile(path), "[print]\r\nlastnum=8\r\n");

    // A temporary file a crash left behind is not in the way either.
    writeFile(path + ".tmp", "[print]\r\nlastnum=999\r\nstale");
    IniFile(path).writeString("print", "lastnum", "9");
    EXPECT_EQ(readFile(path), "[print]\r\nlastnum=9\r\n");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST_F(IniFileWrite, MissingFolderRaisesUnableToWrite) {
    // Works as root too: the folder does not exist at all.
    EXPECT_THROW(IniFile(dir.file("gone/config.ini")).writeString("a", "b", "c"), IniWriteError);
}

TEST_F(IniFileUtf16, ValuesReadInTheStationsCodePage) {
    writeFile(path, utf16(u"[Database]\r\nservername=srv\r\ndataname=\"标签库\"\r\n"
                          u"[com]\r\nnum=COM3\r\n"));
    IniFile ini(path);
    EXPECT_EQ(ini.readString("Database", "servername", ""), "srv");
    EXPECT_EQ(ini.readString("database", "DATANAME", ""), "\xE6\xA0\x87\xE7\xAD\xBE\xE5\xBA\x93");
    EXPECT_EQ(ini.readString("com", "num", ""), "COM3");
    EXPECT_EQ(ini.readString("com", "baud", "9600"), "9600");
}

TEST_F(IniFileUtf16, AWriteKeepsTheFileUtf16AndEveryOtherLine) {
    writeFile(path, utf16(u"; 站点\r\n[print]\r\n lastnum = 5\r\nbtfile=C:\\标签.btw\r\n"));
    IniFile ini(path);
    ini.writeString("print", "lastnum", "6");
    ini.writeString("com", "num", "COM4");
    ini.writeString("Database", "dataname", "\xE5\xBA\x93"); // 库 in the station's bytes
    EXPECT_EQ(readFile(path), utf16(u"; 站点\r\n[print]\r\nlastnum=6\r\nbtfile=C:\\标签.btw\r\n"
                                    u"[com]\r\nnum=COM4\r\n[Database]\r\ndataname=库\r\n"));
    EXPECT_EQ(ini.readString("print", "btfile", ""), "C:\\\xE6\xA0\x87\xE7\xAD\xBE.btw");
}

TEST_F(IniFileRead, ABareCrEndsALine) {
    writeFile(path, "[STR]\rstrstart=3\rstrnum=4\r\n[print]\nlienum=2\r");
    IniFile ini(path);
    EXPECT_EQ(ini.readString("STR", "strstart", "1"), "3");
    EXPECT_EQ(ini.readString("STR", "strnum", "0"), "4");
    EXPECT_EQ(ini.readString("print", "lienum", "1"), "2");
}

TEST_F(IniFileWrite, ABareCrFileIsEditedInPlaceWithItsOwnLineEnds) {
    writeFile(path, "[STR]\rstrstart=3\rstrnum=4\r[print]\rlienum=2");
    IniFile ini(path);
    ini.writeString("STR", "strnum", "5");
    ini.writeString("print", "lastnum", "9");
    EXPECT_EQ(readFile(path), "[STR]\rstrstart=3\rstrnum=5\r[print]\rlienum=2\rlastnum=9\r");
}

TEST_F(IniFileRead, AUtf8ByteOrderMarkIsNoPartOfTheFirstSectionAndAWriteKeepsIt) {
    // 标签 in UTF-8, as an editor saves the file.
    const std::string file = "\xEF\xBB\xBF[Database]\r\nservername=station.db\r\n"
                             "[print]\r\nbtfile=\xE6\xA0\x87\xE7\xAD\xBE.btw\r\n";
    writeFile(path, file);
    IniFile ini(path);
    EXPECT_EQ(ini.readString("Database", "servername", ""), "station.db");
    ini.writeString("print", "lastnum", "6");
    EXPECT_EQ(readFile(path), file + "lastnum=6\r\n");
    // A GBK station gets its values in GBK and writes UTF-8.
    IniFile gbk(path, 936);
    EXPECT_EQ(gbk.readString("print", "btfile", ""), "\xB1\xEA\xC7\xA9.btw");
    gbk.writeString("print", "btfile", "\xBF\xE2.btw");
    EXPECT_EQ(readFile(path), "\xEF\xBB\xBF[Database]\r\nservername=station.db\r\n"
                              "[print]\r\nbtfile=\xE5\xBA\x93.btw\r\nlastnum=6\r\n");
}

TEST_F(IniFileUtf16, NamesAndValuesCrossInTheGivenCodePage) {
    writeFile(path, utf16(u"[打印]\r\nbtfile=标签.btw\r\n"));
    const IniFile gbk(path, 936);
    EXPECT_EQ(gbk.readString("\xB4\xF2\xD3\xA1", "btfile", ""), "\xB1\xEA\xC7\xA9.btw");
    gbk.writeString("\xB4\xF2\xD3\xA1", "btfile", "\xBF\xE2.btw");
    EXPECT_EQ(readFile(path), utf16(u"[打印]\r\nbtfile=库.btw\r\n"));
}

TEST_F(IniFileUtf16, BigEndianAndLongValuesCutOnACharacter) {
    writeFile(path, utf16(u"[print]\r\nbtfile=" + std::u16string(700, u'标') + u"\r\n", true));
    const std::string value = IniFile(path).readString("print", "btfile", "");
    EXPECT_EQ(value.size(), 2046u) << "682 whole characters of three bytes";
    EXPECT_EQ(value.substr(0, 3), "\xE6\xA0\x87");
    IniFile(path).writeString("print", "lastnum", "1");
    EXPECT_EQ(readFile(path).substr(0, 4), std::string("\xFE\xFF\0[", 4));
}
