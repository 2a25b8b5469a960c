#include "app/IniFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using vx::app::IniFile;
using vx::app::IniWriteError;
using vx::test::readFile;
using vx::test::TempDir;
using vx::test::writeFile;

TEST(IniFileRead, MissingFileAndMissingKeyGiveTheDefault) {
    TempDir dir;
    IniFile ini(dir.file("config.ini"));
    EXPECT_EQ(ini.readString("Database", "username", "sa"), "sa");
    writeFile(dir.file("config.ini"), "[Database]\r\nservername=srv\r\n");
    EXPECT_EQ(ini.readString("Database", "username", "sa"), "sa");
    EXPECT_EQ(ini.readString("STR", "servername", "x"), "x") << "a key of another section";
}

TEST(IniFileRead, PresentEmptyKeyReadsAsEmptyNotDefault) {
    TempDir dir;
    writeFile(dir.file("config.ini"), "[STR]\nstrnum=\n");
    EXPECT_EQ(IniFile(dir.file("config.ini")).readString("STR", "strnum", "0"), "");
}

TEST(IniFileRead, NamesMatchWithoutCaseAndValuesAreTrimmedAndUnquoted) {
    TempDir dir;
    writeFile(dir.file("config.ini"),
              "; comment\r\n[dataBASE]\r\n  ServerName =  srv1 \r\nmm=\"a b \"\r\n");
    IniFile ini(dir.file("config.ini"));
    EXPECT_EQ(ini.readString("Database", "servername", ""), "srv1");
    EXPECT_EQ(ini.readString("DATABASE", "MM", ""), "a b ");
}

TEST(IniFileRead, LongValuesAreCutTo2047Bytes) {
    TempDir dir;
    writeFile(dir.file("config.ini"), "[print]\nbtfile=" + std::string(5000, 'x') + "\n");
    EXPECT_EQ(IniFile(dir.file("config.ini")).readString("print", "btfile", "").size(), 2047u);
}

TEST(IniFileWrite, FirstWriteCreatesTheFileOwnerOnly) {
    TempDir dir;
    IniFile ini(dir.file("config.ini"));
    ini.writeString("print", "lastnum", "0");
    EXPECT_EQ(readFile(dir.file("config.ini")), "[print]\r\nlastnum=0\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("config.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(IniFileWrite, KeepsEveryOtherLineAndReplacesInPlace) {
    TempDir dir;
    const std::string before =
        "; station "
        "settings\r\n[Database]\r\nservername=a\r\n\r\n[print]\r\nLastNum=5\r\nbtfile=x.btw\r\n";
    writeFile(dir.file("config.ini"), before);
    IniFile ini(dir.file("config.ini"));
    ini.writeString("PRINT", "lastnum", "6");
    ini.writeString("Database", "mm", "p;w}");
    ini.writeString("com", "num", "COM3");
    EXPECT_EQ(readFile(dir.file("config.ini")),
              "; station "
              "settings\r\n[Database]\r\nservername=a\r\nmm=p;w}\r\n\r\n[print]\r\nlastnum=6\r\n"
              "btfile=x.btw\r\n[com]\r\nnum=COM3\r\n");
    EXPECT_EQ(ini.readString("database", "mm", ""), "p;w}");
}

TEST(IniFileWrite, ExistingFileKeepsItsPermissionsAndLineEnds) {
    TempDir dir;
    writeFile(dir.file("config.ini"), "[a]\nk=1\n");
    ::chmod(dir.file("config.ini").c_str(), 0640);
    IniFile(dir.file("config.ini")).writeString("a", "k", "2");
    EXPECT_EQ(readFile(dir.file("config.ini")), "[a]\nk=2\n");
    struct stat st {};
    ::stat(dir.file("config.ini").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(IniFileWrite, SeveralObjectsOnOnePathSeeEachOthersWrites) {
    TempDir dir;
    IniFile a(dir.file("config.ini")), b(dir.file("config.ini"));
    a.writeString("STR", "strstart", "3");
    EXPECT_EQ(b.readString("STR", "strstart", "1"), "3");
    b.writeString("STR", "strstart", "4");
    a.writeString("STR", "strnum", "6");
    EXPECT_EQ(a.readString("STR", "strstart", "1"), "4");
    EXPECT_EQ(b.readString("STR", "strnum", "0"), "6");
}

TEST(IniFileWrite, FailedWriteRaisesUnableToWriteAndLeavesTheFileWhole) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    TempDir dir;
    const std::string path = dir.file("config.ini");
    writeFile(path, "[print]\r\nlastnum=7\r\n");
    ::chmod(dir.path().c_str(), 0500);
    try {
        IniFile(path).writeString("print", "lastnum", "8");
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
    ::chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(readFile(path), "[print]\r\nlastnum=7\r\n");
}

TEST(IniFileWrite, AWriteThatCannotCompleteLeavesTheOldFileWhole) {
    // Works as root too: the temporary file cannot be created because a
    // folder stands in its place.
    TempDir dir;
    const std::string path = dir.file("config.ini");
    writeFile(path, "[print]\r\nlastnum=7\r\n");
    ASSERT_EQ(::mkdir((path + ".tmp").c_str(), 0700), 0);
    EXPECT_THROW(IniFile(path).writeString("print", "lastnum", "8"), IniWriteError);
    EXPECT_EQ(readFile(path), "[print]\r\nlastnum=7\r\n");
    EXPECT_EQ(IniFile(path).readString("print", "lastnum", ""), "7");
}

TEST(IniFileWrite, MissingFolderRaisesUnableToWrite) {
    // Works as root too: the folder does not exist at all.
    TempDir dir;
    const std::string path = dir.file("gone/config.ini");
    EXPECT_THROW(IniFile(path).writeString("a", "b", "c"), IniWriteError);
}
