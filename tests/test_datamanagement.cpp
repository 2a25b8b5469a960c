// The data area's work without a window: SQL script text, new files that
// appear only when complete, the export, and rebuilding a15 from a14.

#include "data/NewFile.h"
#include "data/RecordExport.h"
#include "data/RecordTable.h"
#include "data/ScriptRun.h"
#include "data/SqlScript.h"
#include "data/StagingImport.h"
#include "tests/support/Databases.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace vx::data;
using vx::test::readFile;
using vx::test::TempDir;
using vx::test::writeFile;

namespace {

// Names in the folder, so a test sees a temporary file left behind.
std::vector<std::string> folderNames(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

// ---- script text -----------------------------------------------------------

struct ScriptCase {
    const char* name;
    std::string file, sent;
};

class ScriptText : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptText, IsSentWithCrLfAfterEveryLine) {
    EXPECT_EQ(scriptText(GetParam().file), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ScriptText,
    ::testing::Values(ScriptCase{"LfOnly", "select 1\nselect 2\n", "select 1\r\nselect 2\r\n"},
                      ScriptCase{"CrLf", "select 1\r\nselect 2\r\n", "select 1\r\nselect 2\r\n"},
                      ScriptCase{"LastLineWithoutBreak", "a\nb", "a\r\nb\r\n"},
                      ScriptCase{"LoneCrIsLeftOut", "ab\rcd\n\r", "abcd\r\n\r\n"},
                      ScriptCase{"BlankLinesStay", "a\n\n\nb\n", "a\r\n\r\n\r\nb\r\n"},
                      ScriptCase{"CtrlZEndsTheText",
                                 "a\nb\x1A"
                                 "c\nd\n",
                                 "a\r\nb\r\n"},
                      ScriptCase{"CtrlZAtALineStart", "a\n\x1A\n", "a\r\n"},
                      ScriptCase{"ByteOrderMarkIsKept", "\xEF\xBB\xBFselect 1\n",
                                 "\xEF\xBB\xBFselect 1\r\n"},
                      ScriptCase{"NulAndGbkBytesAreKept", std::string("'\xB2\xE2\0x'\n", 7),
                                 std::string("'\xB2\xE2\0x'\r\n", 8)},
                      ScriptCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScriptFile, ALongLineIsReadWholeAndAMissingFileIsAFileError) {
    TempDir dir;
    const std::string line(3 << 20, 'x');
    writeFile(dir.file("long.sql"), line + "\n" + line);
    EXPECT_EQ(readSqlScript(dir.file("long.sql")), line + "\r\n" + line + "\r\n");
    EXPECT_THROW(readSqlScript(dir.file("missing.sql")), FileError);
}

// ---- new files --------------------------------------------------------------

TEST(NewFileWriting, TheNameAppearsOnlyAtCommitAndNoTemporaryFileStays) {
    TempDir dir;
    const std::string target = dir.file("out.txt");
    {
        NewFile f(target);
        f.write("abc");
        f.write(std::string(3 << 20, 'y')); // larger than the buffer
        EXPECT_FALSE(pathExists(target));
        f.commit();
    }
    EXPECT_EQ(readFile(target), "abc" + std::string(3 << 20, 'y'));
    EXPECT_EQ(folderNames(dir.path()), std::vector<std::string>{"out.txt"});
}

TEST(NewFileWriting, AnAbandonedFileLeavesNothingBehind) {
    TempDir dir;
    {
        NewFile f(dir.file("out.txt"));
        f.write("half");
    }
    EXPECT_TRUE(folderNames(dir.path()).empty());
}

TEST(NewFileWriting, AFileThatAppearedMeanwhileIsNeverReplaced) {
    TempDir dir;
    const std::string target = dir.file("out.txt");
    NewFile f(target);
    f.write("new");
    writeFile(target, "someone else's");
    EXPECT_THROW(f.commit(), FileError);
    EXPECT_EQ(readFile(target), "someone else's");
    EXPECT_EQ(folderNames(dir.path()), std::vector<std::string>{"out.txt"});
}

TEST(NewFileWriting, AFolderThatCannotBeWrittenIsAFileError) {
    TempDir dir;
    EXPECT_THROW(NewFile(dir.file("no-such-folder/out.txt")), FileError);
}

// ---- on every back end ---------------------------------------------------------

class DataOnBackend : public vx::test::BackendTest {
protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped())
            return;
        d = db.dialect();
    }
    void fill(const std::string& table, const std::vector<std::string>& texts) {
        q.close();
        q.clear();
        for (const auto& l : RecordTable::createBatch(d, table, false))
            q.add(l);
        q.execute();
        for (const auto& t : texts) {
            q.setText(RecordTable::insertText(d, table));
            q.setParam("a", t);
            q.execute();
        }
    }
    // Re-creates table with n records "T1" … "Tn" in one statement.
    void fillNumbered(const std::string& table, int n) {
        fill(table, {});
        const std::string count = std::to_string(n);
        sql(d == Dialect::TSql
                ? "insert into " + table + " (tt) select top " + count +
                      " 'T'+cast(row_number() over (order by (select null)) as varchar) "
                      "from sys.all_objects a cross join sys.all_objects b"
                : "with recursive n(i) as (select 1 union all select i+1 from n where i<" + count +
                      ") insert into " + table + " (tt) select 'T'||i from n");
    }
    void sql(const std::string& text) {
        q.setText(text);
        q.execute();
    }
    std::vector<std::string> rows(const std::string& table) {
        Query r(db);
        r.setText("select bh, tt, pic, prned from " + table + " order by bh");
        r.open();
        std::vector<std::string> out;
        for (; !r.eof(); r.next())
            out.push_back(r.field(0).asText() + "|" + r.field(1).asText() + "|" +
                          (r.field(2).isNull() ? "NULL" : "'" + r.field(2).asText() + "'") + "|" +
                          r.field(3).asText());
        return out;
    }

    Dialect d = Dialect::Sqlite;
    Query q{db}, command{db};
};

// ---- a script's batch -------------------------------------------------------------

class ScriptBatch : public DataOnBackend {};

TEST_P(ScriptBatch, RunsEveryStatementPastTheRowsOfASelectAndRaisesALaterError) {
    fill("a14", {});
    const std::string end = d == Dialect::TSql ? "\r\n" : ";\r\n";
    command.setText(scriptText("select * from a14" + end + "insert into a14 (tt) values ('S1')" +
                               end + "select tt from a14" + end +
                               "insert into a14 (tt) values ('S2')" + end));
    EXPECT_EQ(command.execute(), 2);
    EXPECT_EQ(rows("a14"), (std::vector<std::string>{"1|S1|NULL|False", "2|S2|NULL|False"}));

    command.setText("select * from a14" + end + "insert into no_such_table (tt) values ('x')");
    EXPECT_THROW(command.execute(), DbError);
    sql("delete from a14"); // and the connection is free afterwards
}

TEST_P(ScriptBatch, ATransactionTheScriptLeavesOpenIsRolledBackAndOnlyThat) {
    fill("a14", {"KEEP"});
    Backend& backend = db.backend();
    EXPECT_FALSE(backend.inTransaction());
    backend.beginTransaction();
    EXPECT_TRUE(backend.inTransaction()) << "the station's own";
    backend.rollback();
    EXPECT_FALSE(backend.inTransaction());

    const std::string begin = d == Dialect::TSql ? "BEGIN TRANSACTION\r\n" : "BEGIN;\r\n";
    const std::string end = d == Dialect::TSql ? "\r\n" : ";\r\n";
    ScriptRun run = runScript(command, begin + "update a14 set tt='GONE'" + end);
    EXPECT_FALSE(run.failure);
    EXPECT_TRUE(run.rolledBack);
    EXPECT_FALSE(backend.inTransaction());

    run = runScript(command, begin + "update a14 set tt='GONE'" + end +
                                 "insert into no_such_table (tt) values ('x')" + end);
    ASSERT_TRUE(run.failure);
    EXPECT_NE(run.failure->find("no_such_table"), std::string::npos) << *run.failure;
    EXPECT_TRUE(run.rolledBack);
    EXPECT_FALSE(backend.inTransaction());
    EXPECT_EQ(rows("a14"), std::vector<std::string>{"1|KEEP|NULL|False"});

    run = runScript(command, begin + "update a14 set tt='KEPT'" + end + "COMMIT" + end);
    EXPECT_FALSE(run.failure);
    EXPECT_FALSE(run.rolledBack);
    EXPECT_EQ(rows("a14"), std::vector<std::string>{"1|KEPT|NULL|False"});
}

INSTANTIATE_TEST_SUITE_P(Backends, ScriptBatch, ::testing::ValuesIn(vx::test::backendKinds()),
                         [](const auto& info) { return info.param; });

// ---- export ----------------------------------------------------------------------

class Export : public DataOnBackend {
protected:
    void SetUp() override {
        DataOnBackend::SetUp();
        if (IsSkipped())
            return;
        // 1: NULL pic, 2: empty pic, 3: a comma and GBK bytes, scanned.
        fill("a15", {"AB12", "CD34", "E,F\xB2\xE2"});
        sql("update a15 set pic='' where bh=2");
        sql("update a15 set pic='p_003.jpg' where bh=3");
        sql("update a15 set prned=1 where bh=3");
    }
    std::string exportTo(RecordTable::ExportFilter filter, const std::string& name = "out.txt") {
        RecordExport e(db, RecordTable::exportQuery(d, filter));
        EXPECT_FALSE(e.empty());
        e.writeTo(dir.file(name));
        return readFile(dir.file(name));
    }
};

TEST_P(Export, WritesEveryColumnWithACommaAfterItAndCrLfAfterEveryRecordOfTheFilter) {
    EXPECT_EQ(exportTo(RecordTable::ExportFilter::All), "1,AB12,,False,\r\n"
                                                        "2,CD34,,False,\r\n"
                                                        "3,E,F\xB2\xE2,p_003.jpg,True,\r\n")
        << "NULL and empty pic give the same line; texts are written as stored";
    EXPECT_EQ(exportTo(RecordTable::ExportFilter::Unscanned, "u.txt"),
              "1,AB12,,False,\r\n2,CD34,,False,\r\n");
    EXPECT_EQ(exportTo(RecordTable::ExportFilter::Scanned, "s.txt"),
              "3,E,F\xB2\xE2,p_003.jpg,True,\r\n");
}

TEST_P(Export, NoMatchingRecordCreatesNoFile) {
    sql("update a15 set prned=0");
    RecordExport e(db, RecordTable::exportQuery(d, RecordTable::ExportFilter::Scanned));
    EXPECT_TRUE(e.empty());
    EXPECT_EQ(e.writeTo(dir.file("none.txt")), 0);
    EXPECT_FALSE(pathExists(dir.file("none.txt")));
    sql("update a15 set prned=1 where bh=1"); // the connection is free again
}

TEST_P(Export, AnExistingFileIsNeverOverwritten) {
    writeFile(dir.file("old.txt"), "keep");
    RecordExport e(db, RecordTable::exportQuery(d, RecordTable::ExportFilter::All));
    EXPECT_THROW(e.writeTo(dir.file("old.txt")), FileError);
    EXPECT_EQ(readFile(dir.file("old.txt")), "keep");
}

TEST_P(Export, AnErrorMidwayLeavesNoFileUnderTheChosenName) {
    if (d != Dialect::Sqlite)
        GTEST_SKIP() << "the failing row is made with SQLite's integer overflow";
    fillNumbered("a15", 5000);
    // Row 4000 raises while the rows before it are being written (or, where
    // the driver reads the whole result first, before any is).
    EXPECT_THROW(
        {
            RecordExport e(db, {"select bh, tt, case when bh=4000 then "
                                "abs(-9223372036854775807-1) else 0 end from a15 order by bh"});
            e.writeTo(dir.file("half.txt"));
        },
        DbError);
    EXPECT_FALSE(pathExists(dir.file("half.txt")));
    for (const auto& name : folderNames(dir.path()))
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

TEST_P(Export, AFileThatCannotBeWrittenToTheEndLeavesNothingUnderItsName) {
    fillNumbered("a15", 3000);
    RecordExport e(db, RecordTable::exportQuery(d, RecordTable::ExportFilter::All));
    // Files may grow to 16 KiB, far less than the export needs.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 16 << 10;
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_THROW(e.writeTo(dir.file("big.txt")), FileError);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(pathExists(dir.file("big.txt")));
    for (const auto& name : folderNames(dir.path()))
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

INSTANTIATE_TEST_SUITE_P(Backends, Export, ::testing::ValuesIn(vx::test::backendKinds()),
                         [](const auto& info) { return info.param; });

// ---- a15 rebuilt from a14 --------------------------------------------------------------

class StagingRebuild : public DataOnBackend {
protected:
    void rebuild() {
        rebuildTable(db, q, command, RecordTable::createBatch(d, "a15", false),
                     RecordTable::copyStagingToMain(d));
    }
    bool duplicates() {
        return findDuplicates(q, RecordTable::duplicateCheck(d, "a15"),
                              RecordTable::duplicateSelect(d));
    }
};

TEST_P(StagingRebuild, CopiesEveryTextWithAnEmptyPictureUnscannedNumberedFromOne) {
    fill("a15", {"OLD1", "OLD2", "OLD3"});
    sql("update a15 set prned=1, pic='x.jpg'");
    fill("a14", {"S1", "S2"});
    rebuild();
    EXPECT_EQ(rows("a15"), (std::vector<std::string>{"1|S1|''|False", "2|S2|''|False"}));
    EXPECT_FALSE(duplicates());
}

TEST_P(StagingRebuild, AnEmptyStagingTableGivesAnEmptyMainTable) {
    fill("a15", {"OLD1"});
    fill("a14", {});
    rebuild();
    EXPECT_TRUE(rows("a15").empty());
    EXPECT_FALSE(duplicates());
}

TEST_P(StagingRebuild, DuplicateTextsAreListedWithTheirCount) {
    fill("a14", {"D1", "X", "D1", "d1"});
    rebuild();
    ASSERT_TRUE(duplicates());
    EXPECT_EQ(q.fieldByName("tt").asText(), "D1");
    EXPECT_EQ(q.fieldByName("ge").asText(), "2");
    q.next();
    EXPECT_TRUE(q.eof()) << "d1 differs from D1 byte for byte";
}

TEST_P(StagingRebuild, AMissingOrUnreadableStagingTableLeavesTheMainTableExactlyAsItWas) {
    fill("a15", {"KEEP1", "KEEP2"});
    sql("update a15 set prned=1, pic='k.jpg' where bh=2");
    const auto before = rows("a15");
    sql(d == Dialect::TSql ? "if object_id('a14') is not null drop table a14"
                           : "drop table if exists a14");
    EXPECT_THROW(rebuild(), DbError);
    EXPECT_EQ(rows("a15"), before);

    sql("create table a14 (bh int, other varchar(10))"); // no tt column
    EXPECT_THROW(rebuild(), DbError);
    EXPECT_EQ(rows("a15"), before);

    fill("a14", {"NEW"}); // and the connection is usable for the next try
    rebuild();
    EXPECT_EQ(rows("a15"), std::vector<std::string>{"1|NEW|''|False"});
}

INSTANTIATE_TEST_SUITE_P(Backends, StagingRebuild, ::testing::ValuesIn(vx::test::backendKinds()),
                         [](const auto& info) { return info.param; });
