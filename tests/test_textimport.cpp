#include "data/RecordTable.h"
#include "data/TextImport.h"
#include "tests/support/Databases.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vx::data;
using vx::test::writeFile;

// ---- the input box's answer ----------------------------------------------------

struct AnswerCase {
    const char* answer;
    bool stops;
    bool wholeLine;
    char separator;
    const char* column;
};

class ImportAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(ImportAnswer, ChoosesStopWholeLinesOrAColumn) {
    const auto& c = GetParam();
    auto rule = parseImportAnswer(c.answer);
    ASSERT_EQ(!rule, c.stops);
    if (!rule)
        return;
    EXPECT_EQ(rule->wholeLine(), c.wholeLine);
    if (c.separator) {
        ASSERT_TRUE(rule->separator);
        EXPECT_EQ(*rule->separator, c.separator);
        EXPECT_EQ(rule->column, c.column);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, ImportAnswer,
                         ::testing::Values(AnswerCase{"请填写", true, false, 0, ""},
                                           AnswerCase{"", true, false, 0, ""},
                                           AnswerCase{"1", false, true, 0, ""},
                                           AnswerCase{"2", false, true, 0, ""},
                                           AnswerCase{"12", false, true, 0, ""},
                                           AnswerCase{",2", false, false, ',', "2"},
                                           AnswerCase{",", false, true, ',', ""},
                                           AnswerCase{"\xEF\xBC\x8C"
                                                      "2",
                                                      false, false, '\xEF',
                                                      "\xBC\x8C"
                                                      "2"}));

// ---- splitting a line into fields ---------------------------------------------------

struct SplitCase {
    std::string line;
    char separator;
    std::vector<std::string> fields;
};

class FieldSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(FieldSplit, FollowsBlanksSeparatorsAndQuotes) {
    const auto& c = GetParam();
    std::optional<char> sep;
    if (c.separator)
        sep = c.separator;
    EXPECT_EQ(splitFields(c.line, sep, CodePage::Gbk), c.fields);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FieldSplit,
    ::testing::Values(SplitCase{"AA, BB ,CC", ',', {"AA", "BB", "CC"}},
                      SplitCase{"\"AA BB\",CC", ',', {"AA BB", "CC"}},
                      SplitCase{"\"A,\"\"B\"\"\",C", ',', {"A,\"B\"", "C"}},
                      SplitCase{"\"open,quote", ',', {"open,quote"}},
                      SplitCase{"A,B,", ',', {"A", "B", ""}},
                      SplitCase{"A,,B", ',', {"A", "", "B"}}, SplitCase{"  A\tB", ',', {"A", "B"}},
                      SplitCase{"", ',', {}},
                      SplitCase{"\x81\x7C|B", '|', {"\x81\x7C", "B"}}, // GBK trail byte is "|"
                      SplitCase{"\xB2\xE2 X", 0, {"\xB2\xE2", "X"}}));

// ---- reading lines ----------------------------------------------------------------

std::vector<std::string> readLines(const std::string& bytes) {
    vx::test::TempDir dir;
    writeFile(dir.file("f.txt"), bytes);
    std::FILE* f = std::fopen(dir.file("f.txt").c_str(), "rb");
    LineReader r(f);
    std::vector<std::string> out;
    std::string line;
    while (r.next(line))
        out.push_back(line);
    std::fclose(f);
    return out;
}

TEST(LineReading, EndsLinesAtCrLfOrCrLfAndStopsAtNul) {
    EXPECT_EQ(readLines("a\rb\nc\r\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(readLines("a\r\n"), std::vector<std::string>{"a"})
        << "a final break gives no extra line";
    EXPECT_EQ(readLines("a\n\nb\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(readLines(std::string("ab\0cd\nef", 8)), std::vector<std::string>{"ab"});
    EXPECT_EQ(readLines(""), std::vector<std::string>{});
    EXPECT_EQ(readLines("\xEF\xBB\xBFX\r"), std::vector<std::string>{"\xEF\xBB\xBFX"})
        << "a BOM is kept";
    const std::string longLine(1 << 20, 'x');
    EXPECT_EQ(readLines(longLine + "\r\ny"), (std::vector<std::string>{longLine, "y"}));
}

// ---- importing into a table -------------------------------------------------------------

class TextImport : public vx::test::BackendTest {
protected:
    ImportResult run(const std::string& bytes, const std::string& answer = "1",
                     const std::string& table = "a15") {
        writeFile(dir.file("labels.txt"), bytes);
        const Dialect d = db.dialect();
        ImportStatements st{RecordTable::createBatch(d, table, false),
                            RecordTable::insertText(d, table),
                            RecordTable::duplicateCheck(d, table), RecordTable::duplicateSelect(d)};
        return importTextFile(db, q, dir.file("labels.txt"), st, *parseImportAnswer(answer),
                              CodePage::Gbk);
    }
    std::vector<std::string> rows(const std::string& table = "a15") {
        Query r(db);
        r.setText("select bh, tt from " + table + " order by bh");
        r.open();
        std::vector<std::string> out;
        for (; !r.eof(); r.next())
            out.push_back(r.field(0).asText() + ":" + r.field(1).asText());
        return out;
    }

    Query q{db};
};

TEST_P(TextImport, NumbersRecordsFromOneInFileOrder) {
    auto r = run("Z9\r\nA1\nM5\r");
    EXPECT_EQ(r.outcome, ImportResult::Outcome::Imported);
    EXPECT_EQ(r.lines, 3);
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:Z9", "2:A1", "3:M5"}));
    run("Q");
    EXPECT_EQ(rows(), std::vector<std::string>{"1:Q"}) << "re-created: numbering restarts";
}

TEST_P(TextImport, TheLinesReadAreToldAsTheImportGoesOn) {
    std::string file;
    for (int i = 1; i <= 1300; ++i)
        file += "VX" + std::to_string(i) + "\r\n";
    writeFile(dir.file("labels.txt"), file);
    const Dialect d = db.dialect();
    ImportStatements st{RecordTable::createBatch(d, "a15", false),
                        RecordTable::insertText(d, "a15"), RecordTable::duplicateCheck(d, "a15"),
                        RecordTable::duplicateSelect(d)};
    std::vector<long long> told;
    const ImportResult r =
        importTextFile(db, q, dir.file("labels.txt"), st, *parseImportAnswer("1"), CodePage::Gbk,
                       [&](long long lines) { told.push_back(lines); });
    EXPECT_EQ(r.lines, 1300);
    EXPECT_EQ(told, (std::vector<long long>{512, 1024, 1300}));
}

TEST_P(TextImport, ColumnModeStoresTheChosenField) {
    run("x,AA, BB ,CC\ny,\"D E\",F\n", ",3");
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:BB", "2:F"}));
    run("x,AA\n", ",");
    EXPECT_EQ(rows(), std::vector<std::string>{"1:x,AA"})
        << "a separator alone imports whole lines";
}

TEST_P(TextImport, ABlankLineIsAnEmptyTextInWholeLineModeAndAFailureInColumnMode) {
    run("A\n\nB\n");
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:A", "2:", "3:B"}));
    auto r = run("a,1\n\nb,2\n", ",2");
    EXPECT_EQ(r.outcome, ImportResult::Outcome::Failed);
    EXPECT_EQ(rows(), std::vector<std::string>{"1:1"}) << "lines before the failing one stay";
}

TEST_P(TextImport, AFullWidthCommaFailsAtTheFirstLine) {
    auto r = run("A\xA3\xAC"
                 "B\n",
                 "\xA3\xAC"
                 "2");
    EXPECT_EQ(r.outcome, ImportResult::Outcome::Failed);
    EXPECT_TRUE(rows().empty());
}

TEST_P(TextImport, ATextLongerThanTheColumnEndsTheImportKeepingWhatWentBefore) {
    auto r = run("OK1\n" + std::string(31, 'x') + "\nOK3\n");
    EXPECT_EQ(r.outcome, ImportResult::Outcome::Failed);
    EXPECT_FALSE(r.error.empty());
    EXPECT_TRUE(r.replaced) << "the table was made anew, for the journal to tell";
    EXPECT_EQ(rows(), std::vector<std::string>{"1:OK1"});
}

TEST_P(TextImport, AFailureDeepInALongFileKeepsExactlyTheLinesBeforeIt) {
    std::string text;
    for (int i = 1; i <= 1500; ++i)
        text += (i == 700 ? std::string(31, 'x') : "L" + std::to_string(i)) + "\r\n";
    auto r = run(text);
    EXPECT_EQ(r.outcome, ImportResult::Outcome::Failed);
    EXPECT_EQ(r.lines, 699);
    const auto stored = rows();
    ASSERT_EQ(stored.size(), 699u);
    EXPECT_EQ(stored.front(), "1:L1");
    EXPECT_EQ(stored.back(), "699:L699");
    EXPECT_EQ(run(text.substr(0, text.find("xxx"))).lines, 699)
        << "and without the bad line all goes in";
}

TEST_P(TextImport, AHugeLineIsRefusedLikeAnyTooLongTextAndTheLinesBeforeItStay) {
    auto r = run("OK1\n" + std::string(30, 'y') + "\n" + std::string(8 << 20, 'x') + "\nOK4\n");
    EXPECT_EQ(r.outcome, ImportResult::Outcome::Failed);
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:OK1", "2:" + std::string(30, 'y')}));
}

TEST_P(TextImport, AnImportKilledMidwayLeavesTheOldTableWhole) {
    run("OLD1\nOLD2\nOLD3\n");
    const std::string fifo = dir.file("labels.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::signal(SIGPIPE, SIG_IGN);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A station importing a file that arrives slowly, on its own connection.
        try {
            std::string why;
            Connection own;
            own.openWith(vx::test::openBackend(GetParam(), dir.path(), why));
            Query q2(own);
            const Dialect d = own.dialect();
            ImportStatements st{
                RecordTable::createBatch(d, "a15", false), RecordTable::insertText(d, "a15"),
                RecordTable::duplicateCheck(d, "a15"), RecordTable::duplicateSelect(d)};
            importTextFile(own, q2, fifo, st, *parseImportAnswer("1"), CodePage::Gbk);
        } catch (...) {
            _exit(2);
        }
        _exit(0);
    }
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    // Far more than the pipe and the reader's buffer hold: once it is written
    // the child has inserted most of it.
    std::string lines;
    for (int i = 1; i <= 100000; ++i)
        lines += "NEW" + std::to_string(i) + "\r\n";
    std::size_t sent = 0;
    while (sent < lines.size()) {
        const ssize_t n = ::write(fd, lines.data() + sent, lines.size() - sent);
        ASSERT_GT(n, 0);
        sent += static_cast<std::size_t>(n);
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ::close(fd);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child was still importing when it was killed";
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:OLD1", "2:OLD2", "3:OLD3"}));
}

TEST_P(TextImport, DuplicatesAreFoundByteForByte) {
    auto r = run("ABC\nABC\nabc\nABC \nX\n");
    ASSERT_EQ(r.outcome, ImportResult::Outcome::Duplicates);
    std::vector<std::string> dups;
    for (; !q.eof(); q.next())
        dups.push_back(q.fieldByName("tt").asText() + "x" + q.fieldByName("ge").asText());
    EXPECT_EQ(dups, std::vector<std::string>{"ABCx2"});
    EXPECT_EQ(run("ABC\nabc\n").outcome, ImportResult::Outcome::Imported);
}

TEST_P(TextImport, AnEmptyFileLeavesTheTableEmptyAndSucceeds) {
    run("OLD\n");
    auto r = run("");
    EXPECT_EQ(r.outcome, ImportResult::Outcome::Imported);
    EXPECT_TRUE(rows().empty());
}

TEST_P(TextImport, AnUnreadableFileLeavesTheExistingTableUntouched) {
    run("KEEP1\nKEEP2\n");
    const Dialect d = db.dialect();
    ImportStatements st{RecordTable::createBatch(d, "a15", false),
                        RecordTable::insertText(d, "a15"), RecordTable::duplicateCheck(d, "a15"),
                        RecordTable::duplicateSelect(d)};
    EXPECT_THROW(importTextFile(db, q, dir.file("missing.txt"), st, *parseImportAnswer("1")),
                 ImportSourceError);
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:KEEP1", "2:KEEP2"}));
}

TEST_P(TextImport, TheStagingTableIsFilledTheSameWay) {
    run("S1\nS2\n", "1", "a14");
    EXPECT_EQ(rows("a14"), (std::vector<std::string>{"1:S1", "2:S2"}));
}

TEST_P(TextImport, BinaryAndGbkInputIsStoredAsBytesWithoutACrash) {
    run("\xB2\xE2\xCA\xD4\r\n\x01\x02\xFF\xFE\r\n");
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:\xB2\xE2\xCA\xD4", "2:\x01\x02\xFF\xFE"}));
    auto r = run(std::string("AB\0\x01\x02", 5));
    EXPECT_EQ(rows(), std::vector<std::string>{"1:AB"}) << "NUL ends the text";
    EXPECT_EQ(r.outcome, ImportResult::Outcome::Imported);
}

INSTANTIATE_TEST_SUITE_P(Backends, TextImport, ::testing::ValuesIn(vx::test::backendKinds()),
                         [](const auto& info) { return info.param; });
