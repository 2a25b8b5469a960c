// vexora-journal as a supervisor's script runs it: its output and its exit
// codes, on the scripted shift; and the text it writes, made in-process.

#include "data/Database.h"
#include "journal/Journal.h"
#include "journal/JournalText.h"
#include "journal/ReportHtml.h"
#include "tests/support/Processes.h"
#include "tests/support/ScriptedShift.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

using namespace vx;

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string out;
};

// Runs the tool with arguments (a shell word list) in UTC, standard error
// into err when given.
ToolRun tool(const std::string& args, const std::string& errFile = "/dev/null") {
    const std::string cmd =
        "TZ=UTC " VEXORA_BIN_DIR "/vexora-journal " + args + " 2>'" + errFile + "'";
    ToolRun r;
    r.out = test::run(cmd, &r.exitCode);
    return r;
}

// The lines of a report section, from its title line to the next blank line.
std::vector<std::string> section(const std::string& report, const std::string& title) {
    std::vector<std::string> lines;
    std::istringstream in(report);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (inside && line.empty())
            break;
        if (inside)
            lines.push_back(line);
        if (line.rfind(title, 0) == 0)
            inside = true;
    }
    return lines;
}

std::string collapse(std::string s) {
    std::string out;
    for (char c : s)
        if (!(c == ' ' && !out.empty() && out.back() == ' '))
            out += c;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

class JournalTool : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeScriptedShift(dir.path());
        station = "--station '" + dir.path() + "' ";
    }
    test::TempDir dir;
    std::string station;
};

} // namespace

TEST_F(JournalTool, ReportNamesTheRecordsToLookAtAndExitsWithOne) {
    const std::string err = dir.file("err.txt");
    const ToolRun r =
        tool(station + "report --from '2026-12-08 06:00' --to 2026-12-08T08:00Z", err);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    auto records = [&](const std::string& title) {
        std::vector<std::string> out;
        for (const auto& l : section(r.out, title))
            out.push_back(collapse(l));
        return out;
    };
    EXPECT_EQ(records("Printed, never verified good: 1"),
              (std::vector<std::string>{" record 3 VX000003"}))
        << r.out;
    EXPECT_EQ(records("Verified good, never printed: 1"),
              (std::vector<std::string>{" record 9 VX000009"}));
    EXPECT_EQ(records("Scanned more than once: 1"),
              (std::vector<std::string>{" record 5 VX000005 2 scans"}));
    EXPECT_EQ(records("Scans by verdict: 13")[0], " good 7");
    EXPECT_EQ(records("Good scans per hour"),
              (std::vector<std::string>{" 2026-12-08 06:00 4", " 2026-12-08 07:00 4"}));
    EXPECT_NE(r.out.find("Longest pause between scans: 00:51:00.000, from 2026-12-08 "
                         "06:14:00.000 to 2026-12-08 07:05:00.000"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(section(r.out, "Print ranges sent").size(), 4u);
    EXPECT_NE(test::readFile(err).find("vexora-journal: reading"), std::string::npos)
        << "progress goes to standard error, not into the report";
    EXPECT_EQ(r.out.find("vexora-journal:"), std::string::npos);
}

TEST_F(JournalTool, ReportExitCodesTellAScriptWhatItGot) {
    EXPECT_EQ(
        tool(station + "--utc report --from '2026-12-08 04:00' --to '2026-12-08 05:00'").exitCode,
        0)
        << "a shift with nothing in it reconciles";
    test::writeFile(dir.file("config.ini"), "[Database]\r\nservername=elsewhere.db\r\n");
    const ToolRun noTable = tool(station + "--utc report --from '2026-12-08 06:00'");
    EXPECT_EQ(noTable.exitCode, 4) << "the label database has no a15:\n" << noTable.out;
    EXPECT_NE(noTable.out.find("could not be read"), std::string::npos);
    EXPECT_EQ(collapse(section(noTable.out, "Printed, never verified good: 1").at(0)), " record 3")
        << "the report is still made, by number only";

    EXPECT_EQ(tool(station + "report --from yesterday").exitCode, 2);
    EXPECT_EQ(tool(station + "summarise").exitCode, 2);
    EXPECT_EQ(tool("--station '" + dir.file("nowhere") + "' list").exitCode, 3);
    EXPECT_EQ(tool(station + "export --output '" + dir.file("no/such/folder.csv") + "'").exitCode,
              5);
}

TEST_F(JournalTool, ExportWritesUtf8CsvWithAHeaderAndTheScanBytesExactly) {
    {
        journal::Journal j(dir.file(journal::Journal::kFileName));
        journal::JournalEvent e;
        e.time = test::shiftTime(9, 0);
        e.kind = "scan";
        e.what = "not-found";
        e.code = "A,\"B\xFF";    // a comma, a quote and a byte that is no text
        e.raw = "A,\"B\xFF\r\n"; // CR LF as the scanner sent them
        ASSERT_TRUE(j.append(e));
    }
    const std::string csv = dir.file("out.csv");
    ASSERT_EQ(tool(station + "export --from '2026-12-08 09:00' --output '" + csv + "'").exitCode,
              0);
    const std::string text = test::readFile(csv);
    EXPECT_EQ(text, "\xEF\xBB\xBF"
                    "id,time_utc,time_local,kind,event,record,code,scan,scan_hex,range_low,"
                    "range_high,labels,subject,backend,message\r\n"
                    "21,2026-12-08 09:00:00.000,2026-12-08 09:00:00.000,scan,not-found,,"
                    "\"A,\"\"B\\xFF\",\"A,\"\"B\\xFF<CR><LF>\",412C2242FF0D0A,,,,,,\r\n");
}

TEST_F(JournalTool, AnOutputFileThatExistsIsNeverReplaced) {
    // As the station's own export: a file already there is someone's work.
    for (const char* command : {"export", "list --csv", "report"}) {
        SCOPED_TRACE(command);
        const std::string out = dir.file("taken.csv"), err = dir.file("err.txt");
        test::writeFile(out, "last week's export\r\n");
        const ToolRun r = tool(station + command + " --output '" + out + "'", err);
        EXPECT_EQ(r.exitCode, 5);
        EXPECT_EQ(test::readFile(out), "last week's export\r\n");
        EXPECT_NE(test::readFile(err).find(out + " exists"), std::string::npos)
            << test::readFile(err);
        EXPECT_EQ(std::count_if(std::filesystem::directory_iterator(dir.path()), {},
                                [](const auto& e) {
                                    return e.path().filename().string().find("taken.csv") !=
                                           std::string::npos;
                                }),
                  1)
            << "no temporary file is left beside it";
    }
    const std::string fresh = dir.file("fresh.csv");
    EXPECT_EQ(tool(station + "export --output '" + fresh + "'").exitCode, 0);
    EXPECT_EQ(test::readFile(fresh).rfind("\xEF\xBB\xBFid,", 0), 0u);
}

TEST_F(JournalTool, ListFiltersByVerdictRecordAndCode) {
    const ToolRun dup = tool(station + "list --verdict duplicate --csv");
    ASSERT_EQ(dup.exitCode, 0);
    std::istringstream in(dup.out);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    ASSERT_EQ(lines.size(), 2u) << dup.out;
    EXPECT_EQ(lines[1].substr(0, 67),
              "9,2026-12-08 06:14:00.000,2026-12-08 06:14:00.000,scan,duplicate,5,");

    const ToolRun table = tool(station + "list --record 5");
    ASSERT_EQ(table.exitCode, 0);
    std::istringstream t(table.out);
    std::vector<std::string> rows;
    for (std::string l; std::getline(t, l);)
        rows.push_back(collapse(l));
    ASSERT_EQ(rows.size(), 3u) << table.out;
    EXPECT_EQ(rows[1], "2026-12-08 06:13:00.000 scan good 5 VX000005 VX000005<CR><LF>");
    EXPECT_EQ(rows[2], "2026-12-08 06:14:00.000 scan duplicate 5 VX000005 VX000005<CR><LF>");

    const ToolRun code = tool(station + "list --code XX000009 --csv");
    EXPECT_EQ(std::count(code.out.begin(), code.out.end(), '\n'), 2) << code.out;
}

// A station killed with events in its write-ahead log only: archive takes
// them all to the named file and leaves an empty journal; it refuses while a
// station writes the journal, and never replaces a file.
TEST_F(JournalTool, ArchiveTakesEveryEventOfACrashedStationAndRefusesWhileAStationWrites) {
    const std::string journal = dir.file(journal::Journal::kFileName);
    const pid_t pid = ::fork();
    if (pid == 0) {
        journal::Journal j(journal);
        for (int i = 1; i <= 5; ++i) {
            journal::JournalEvent e;
            e.time = test::shiftTime(9, i);
            e.kind = "scan";
            e.what = "good";
            e.record = i;
            if (!j.append(e))
                _exit(1);
        }
        ::kill(::getpid(), SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    const std::string archive = dir.file("shift-2026-12-08.db");
    const ToolRun done = tool(station + "archive '" + archive + "'");
    EXPECT_EQ(done.exitCode, 0);
    EXPECT_EQ(done.out, "25 events archived to " + archive + "; " + journal + " starts empty\n");
    const ToolRun all = tool("--journal '" + archive + "' list --csv");
    EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), 1 + 25 + 1) << all.out;
    EXPECT_NE(all.out.find(",journal,archived,"), std::string::npos) << all.out;
    const ToolRun none = tool(station + "list --csv");
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(std::count(none.out.begin(), none.out.end(), '\n'), 1) << none.out;

    EXPECT_EQ(tool(station + "archive '" + archive + "'").exitCode, 5) << "never replaced";
    const std::string second = dir.file("second.db");
    {
        journal::Journal running(journal);
        journal::JournalEvent e;
        e.kind = "port";
        e.what = "opened";
        ASSERT_TRUE(running.append(e));
        EXPECT_EQ(tool(station + "archive '" + second + "'").exitCode, 6);
        EXPECT_FALSE(std::filesystem::exists(second));
    }
    EXPECT_EQ(tool(station + "archive").exitCode, 2);
}

// verify reads the scripted shift's chain as intact, names the row an
// edit touched, and tells a script by its exit code.
TEST_F(JournalTool, VerifyExitsWithZeroOnAnIntactChainAndSevenNamingTheEditedRow) {
    const std::string journal = dir.file(journal::Journal::kFileName);
    const ToolRun intact = tool(station + "verify");
    EXPECT_EQ(intact.exitCode, 0) << intact.out;
    EXPECT_EQ(intact.out.rfind("Journal chain: intact\n  20 rows read, 20 on the chain\n", 0), 0u)
        << intact.out;
    {
        data::Connection db;
        db.openWith(data::openSqliteBackend(journal));
        data::Query q(db);
        q.setText("UPDATE events SET what='good' WHERE what='duplicate'");
        q.execute();
    }
    const ToolRun edited = tool(station + "verify '" + journal + "'");
    EXPECT_EQ(edited.exitCode, 7) << edited.out;
    EXPECT_NE(edited.out.find("BROKEN: " + journal + ": row 9 was changed"), std::string::npos)
        << edited.out;
    EXPECT_EQ(tool(station + "verify '" + dir.file("none.db") + "'").exitCode, 3);
}

namespace {

// Runs the block under the POSIX time zone tz ("CST-8": UTC+8), then puts
// the test's own zone back.
template <typename F> void inZone(const char* tz, F block) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", tz, 1);
    ::tzset();
    block();
    if (old)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

// The characters (not bytes) of a UTF-8 line before needle.
std::size_t column(const std::string& line, const std::string& needle) {
    const std::size_t at = line.find(needle);
    if (at == std::string::npos)
        return std::string::npos;
    return static_cast<std::size_t>(
        std::count_if(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

} // namespace

TEST(JournalText, TimesAreReadAsTypedInLocalTimeOrUtcAndWrittenBack) {
    using journal::formatTime;
    using journal::parseTime;
    using test::shiftTime;
    EXPECT_EQ(parseTime("2026-12-08", true), shiftTime(0, 0));
    EXPECT_EQ(parseTime("2026-12-08 06:13", true), shiftTime(6, 13));
    EXPECT_EQ(parseTime("2026-12-08T06:13:05.5Z", false), shiftTime(6, 13, 5) + 500);
    EXPECT_EQ(parseTime("2026-12-08 06:13:05.05", true), shiftTime(6, 13, 5) + 50);
    EXPECT_EQ(parseTime("@1765174380000", false), 1765174380000);
    for (const char* bad : {"yesterday", "2026-13-01", "2026-12-08 24:00", "2026-12-08 06",
                            "2026-12-08 06:13:05.1234", "2026-12-08 06:13:05.x", "2026-12-08x"})
        EXPECT_FALSE(parseTime(bad, true)) << bad;

    inZone("CST-8", [&] {
        EXPECT_EQ(parseTime("2026-12-08 14:00", false), shiftTime(6, 0));
        EXPECT_EQ(parseTime("2026-12-08 14:00", true), shiftTime(14, 0));
        EXPECT_EQ(formatTime(shiftTime(6, 0) + 7, false), "2026-12-08 14:00:00.007");
        EXPECT_EQ(formatTime(shiftTime(6, 0), true, false), "2026-12-08 06:00:00");
    });
    // A half-hour zone: the good scans of 06:10 UTC count in the hour that
    // began at 11:00 there, 05:30 UTC.
    inZone("IST-5:30", [&] {
        EXPECT_EQ(journal::hourStart(shiftTime(6, 10, 1) + 1, false), shiftTime(5, 30));
        EXPECT_EQ(journal::hourStart(shiftTime(6, 10, 1) + 1, true), shiftTime(6, 0));
    });
    EXPECT_EQ(formatTime(-1, true), "1969-12-31 23:59:59.999") << "before 1970 rounds down";
    EXPECT_EQ(journal::formatDuration(90'061'001), "25:01:01.001");
}

TEST(JournalText, CsvAndTableRowsWriteTheStationsTextsAsUtf8InTheirColumns) {
    test::TempDir dir;
    const std::string path = dir.file(journal::Journal::kFileName);
    {
        journal::Journal j(path);
        journal::JournalEvent e;
        e.time = test::shiftTime(9, 0);
        e.kind = "scan";
        e.what = "not-found";
        e.code = "\xB1\xEA";          // GBK for U+6807
        e.raw = "\xB1\xEA\xFF\r\n";   // and a byte that is no GBK
        e.message = "\xB4\xED,\"x\""; // GBK U+9519, a comma and quotes
        ASSERT_TRUE(j.append(e));
    }
    journal::JournalReader reader(path);
    journal::TextStyle gbk{true, "GBK"};

    std::ostringstream csv;
    EXPECT_EQ(journal::writeEvents(csv, reader, {}, journal::EventFormat::Csv, gbk), 1);
    EXPECT_EQ(csv.str(), "id,time_utc,time_local,kind,event,record,code,scan,scan_hex,range_low,"
                         "range_high,labels,subject,backend,message\r\n"
                         "1,2026-12-08 09:00:00.000,2026-12-08 09:00:00.000,scan,not-found,,"
                         "\u6807,\u6807\\xFF<CR><LF>,B1EAFF0D0A,,,,,,\"\u9519,\"\"x\"\"\"\r\n");

    std::ostringstream table;
    journal::writeEvents(table, reader, {}, journal::EventFormat::Table, gbk);
    std::istringstream lines(table.str());
    std::string header, row;
    std::getline(lines, header);
    std::getline(lines, row);
    EXPECT_EQ(column(row, "\u6807\\xFF"), column(header, "scan"))
        << "a Chinese character takes one column, as in the header:\n"
        << table.str();
    EXPECT_EQ(column(row, "\u9519"), column(header, "details")) << table.str();

    journal::TextStyle unknown{true, "NO-SUCH-CHARSET"};
    std::ostringstream asUtf8;
    journal::writeEvents(asUtf8, reader, {}, journal::EventFormat::Csv, unknown);
    EXPECT_NE(asUtf8.str().find(",\\xB1\\xEA,"), std::string::npos)
        << "an unknown character set reads as UTF-8, its stray bytes escaped:\n"
        << asUtf8.str();
}

TEST(JournalText, TheShiftReportsHeadingSaysWhereItsFiguresCameFrom) {
    test::TempDir dir;
    test::writeScriptedShift(dir.path());
    journal::JournalReader reader(dir.file(journal::Journal::kFileName));
    const auto r =
        journal::makeShiftReport(reader, test::shiftTime(6, 0), test::shiftTime(8, 0) - 1, nullptr);
    auto heading = [&](const journal::ReportSource& source) {
        std::ostringstream o;
        journal::writeShiftReport(o, r, source, journal::TextStyle{true, "UTF-8"});
        std::string first, second, third;
        std::istringstream in(o.str());
        std::getline(in, first);
        std::getline(in, second);
        std::getline(in, third);
        return first + "\n" + second + "\n" + third;
    };
    EXPECT_EQ(heading({test::shiftTime(6, 0), test::shiftTime(8, 0) - 1, "j.db", "", ""}),
              "Shift report 2026-12-08 06:00:00 to 2026-12-08 08:00:00 UTC\n"
              "Journal: j.db, 18 events\n"
              "Label database: none named in config.ini (printed records are listed by number "
              "only)");
    EXPECT_EQ(heading({std::nullopt, std::nullopt, "j.db", "station.db", "no such table: a15"}),
              "Shift report (start) to (end) UTC\n"
              "Journal: j.db, 18 events\n"
              "Label database: station.db could not be read: no such table: a15");
    EXPECT_EQ(heading({std::nullopt, std::nullopt, "j.db", "srv/labels", ""}),
              "Shift report (start) to (end) UTC\n"
              "Journal: j.db, 18 events\n"
              "Label database: srv/labels");
}

// ---- the report as a page ------------------------------------------------------

namespace {

// The tags of a page in order, with their attributes: what a hostile text
// would change if it got out of its text.
std::vector<std::string> pageTags(const std::string& html) {
    std::vector<std::string> tags;
    for (std::size_t i = html.find('<'); i != std::string::npos; i = html.find('<', i + 1))
        tags.push_back(html.substr(i, html.find('>', i) - i + 1));
    return tags;
}

journal::JournalEvent failedJob(std::int64_t t, std::int64_t lo, std::int64_t hi,
                                const std::string& reason, const std::string& backend) {
    journal::JournalEvent e;
    e.time = t;
    e.kind = journal::JournalWords::Print;
    e.what = journal::JournalWords::Failed;
    e.low = lo;
    e.high = hi;
    e.labels = 1;
    e.record = lo;
    e.backend = backend;
    e.message = reason;
    return e;
}

journal::JournalEvent dispatched(std::int64_t t, std::int64_t lo, std::int64_t hi,
                                 const std::string& subject) {
    journal::JournalEvent e;
    e.time = t;
    e.kind = journal::JournalWords::Print;
    e.what = journal::JournalWords::Dispatched;
    e.low = lo;
    e.high = hi;
    e.backend = "direct";
    e.subject = subject;
    return e;
}

// The scripted shift with a job at 07:40 for 11-14 whose printer took one
// label and then ran out of paper.
void addFailedJob(const std::string& folder) {
    journal::Journal j(folder + "/" + journal::Journal::kFileName);
    j.append(dispatched(test::shiftTime(7, 40), 11, 14, "/labels/vx.glabels"));
    j.append(failedJob(test::shiftTime(7, 41), 11, 14, "打印机缺纸 out of paper", "gLabels"));
}

} // namespace

// Texts from the journal (codes, reasons, back ends, port names) are the
// station's bytes: on the page they are UTF-8 and never markup, whatever
// they hold; the page keeps the same tags whether the texts are hostile or
// plain.
TEST(JournalText, ThePageWritesEveryJournalTextAsUtf8TextAndNeverAsMarkup) {
    const std::string hostile[] = {
        "<script>alert(1)</script>",
        "\"><img src=x onerror=alert(1)>",
        "' onmouseover='x",
        "&lt;b&gt;",
        "</td></tr></table><h1>x",
        "<!--",
        "<![CDATA[",
        "\xB1\xEA<\xFF>",
    };
    auto page = [](const std::string& text, const journal::TextStyle& style) {
        test::TempDir dir;
        const std::string path = dir.file(journal::Journal::kFileName);
        {
            journal::Journal j(path);
            j.append(dispatched(test::shiftTime(6, 0), 1, 3, text));
            j.append(failedJob(test::shiftTime(6, 1), 1, 3, text, text));
            journal::JournalEvent scan;
            scan.time = test::shiftTime(6, 2);
            scan.kind = "scan";
            scan.what = "duplicate";
            scan.record = 1;
            scan.code = text;
            scan.raw = text;
            j.append(scan);
            j.append(scan);
            journal::JournalEvent port;
            port.time = test::shiftTime(6, 3);
            port.kind = "port";
            port.what = "lost";
            port.subject = text;
            port.message = text;
            j.append(port);
        }
        journal::JournalReader reader(path);
        const auto r = journal::makeShiftReport(reader, 0, test::shiftTime(9, 0), nullptr);
        std::ostringstream o;
        journal::ChainCheck chain;
        chain.fault = journal::ChainCheck::Fault::Changed;
        chain.message = text;
        journal::writeShiftReportHtml(o, r, {std::nullopt, std::nullopt, text, text, text}, chain,
                                      style);
        return o.str();
    };
    const journal::TextStyle gbk{true, "GBK"};
    const std::string plain = page("plain", gbk);
    ASSERT_NE(plain.find("plain"), std::string::npos);
    for (const std::string& text : hostile) {
        SCOPED_TRACE(text);
        const std::string html = page(text, gbk);
        EXPECT_EQ(pageTags(html), pageTags(plain));
        EXPECT_EQ(html.find("<script"), std::string::npos);
    }
    // GBK bytes as the characters they are; a byte that is no GBK escaped.
    const std::string gb = page("\xB1\xEA<\xFF>", gbk);
    EXPECT_NE(gb.find("标&lt;\\xFF&gt;"), std::string::npos) << gb;
    EXPECT_NE(page("a&b\"c'", gbk).find("a&amp;b&quot;c&#39;"), std::string::npos);
}

// The page's ranges: records printed by several jobs merged into one
// range, and only the records two jobs both printed counted as printed
// more than once.
TEST(JournalText, RangesMergeWhereTheyTouchAndPrintedTwiceIsWhereTwoOverlap) {
    using Ranges = journal::RecordRanges;
    EXPECT_EQ(journal::rangesText(journal::mergeRanges({{6, 8}, {1, 5}, {12, 11}, {10, 10}})),
              "1-8, 10");
    EXPECT_EQ(journal::coveredTwice({{1, 10}, {5, 12}, {20, 20}, {20, 20}, {30, 40}, {41, 45}}),
              (Ranges{{5, 10}, {20, 20}}));
    EXPECT_EQ(journal::coveredTwice({{1, 10}, {2, 3}, {2, 3}, {9, 9}}), (Ranges{{2, 3}, {9, 9}}));
    EXPECT_EQ(journal::rangesCount({{1, 8}, {10, 10}}), 9);
    EXPECT_EQ(journal::rangesText({}), "");
}

// The scripted shift, with a job that failed, as the page the tool writes:
// every figure a supervisor looks for, and ranges, never a record a line.
TEST_F(JournalTool, TheHtmlReportHoldsTheShiftsFiguresAndRangesAndTheChainAtItsTop) {
    addFailedJob(dir.path());
    const std::string file = dir.file("shift.html");
    const ToolRun r = tool(station +
                           "report --from '2026-12-08 06:00' --to 2026-12-08T08:00Z "
                           "--html '" +
                           file + "'");
    EXPECT_EQ(r.exitCode, 1) << "records to look at, as the text report";
    const std::string html = test::readFile(file);
    const std::string text = test::pageText(html);
    EXPECT_LT(html.find("id=\"chain\""), html.find("<h2")) << "the chain comes first";
    EXPECT_NE(text.find("The journal's chain is intact: 22 rows verified"), std::string::npos)
        << text;
    for (const char* figure : {
             "扫描 Scans 13 ",
             "正确 Good scans (good and missing range) 8 ",
             "打印 Labels printed 9 ",
             "已验证 Labels verified 8 ",
             "报警 Alarms 4 ",
             // printed, verified, printed not verified, verified not printed,
             // scanned twice: each as ranges
             "1 (imported before the journal) 1-8, 11 (9) none 1-2, 4-9 (8) 3 (1) 9 (1) 5 VX000005 "
             "×2 ",
             "重复 duplicate 1 (7.7%)",
             "正确 good 7 (53.8%)",
             "打印机缺纸 out of paper",
             "Longest pause between scans: 00:51:00.000",
         })
        EXPECT_NE(text.find(figure), std::string::npos) << figure << "\n" << text;
    EXPECT_NE(html.find("<svg id=\"per-hour\""), std::string::npos);
    EXPECT_NE(html.find("<svg id=\"verdicts\""), std::string::npos);
    // Self-contained: nothing fetched, nothing run.
    std::string page = html;
    for (std::size_t at;
         (at = page.find("xmlns=\"http://www.w3.org/2000/svg\"")) != std::string::npos;)
        page.erase(at, 34);
    for (const char* outside : {"<script", "http:", "https:", "src=", "url(", "<link", "@import"})
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;

    EXPECT_EQ(tool(station + "report --html '" + file + "'").exitCode, 5) << "never replaced";
    EXPECT_EQ(tool(station + "list --html x.html").exitCode, 2);
}

namespace {

// The output of a shell command, and its exit code.
ToolRun shell(const std::string& cmd) {
    ToolRun r;
    r.out = test::run(cmd, &r.exitCode);
    return r;
}

// Pixels of a PNG (read through netpbm's pngtopnm) whose colour is within a
// few steps of the colour "#rrggbb".
long pixelsOfColour(const std::string& png, const std::string& colour) {
    const ToolRun ppm = shell("pngtopnm '" + png + "' 2>/dev/null");
    std::istringstream in(ppm.out);
    std::string magic;
    int width = 0, height = 0, max = 0;
    in >> magic >> width >> height >> max;
    in.get();
    if (magic != "P6" || max != 255)
        return -1;
    const int want[3] = {std::stoi(colour.substr(1, 2), nullptr, 16),
                         std::stoi(colour.substr(3, 2), nullptr, 16),
                         std::stoi(colour.substr(5, 2), nullptr, 16)};
    long n = 0;
    char px[3];
    for (long i = 0; i < static_cast<long>(width) * height && in.read(px, 3); ++i) {
        bool near = true;
        for (int c = 0; c < 3; ++c)
            near = near && std::abs(static_cast<unsigned char>(px[c]) - want[c]) <= 6;
        n += near;
    }
    return n;
}

} // namespace

// The page as a real browser shows it: Debian's Chromium, headless, reads
// the figures from the page it built, and draws the charts (their bars'
// colours cover the areas the page gives them). The picture is kept in the
// build's artifacts.
TEST_F(JournalTool, ChromiumShowsTheHtmlReportsFiguresAndDrawsItsCharts) {
    const ToolRun which = shell("command -v chromium");
    ASSERT_EQ(which.exitCode, 0)
        << "chromium is not installed (scripts/install-deps.sh installs it)";
    addFailedJob(dir.path());
    const std::string file = dir.file("shift.html"), png = dir.file("shift.png");
    ASSERT_EQ(tool(station + "report --from '2026-12-08 06:00' --to 2026-12-08T08:00Z --html '" +
                   file + "'")
                  .exitCode,
              1);
    // As root Chromium runs only without its sandbox; its profile stays in
    // the test's folder, its complaints about a missing D-Bus in /dev/null.
    const std::string chromium =
        "timeout 120 chromium --headless --disable-gpu --hide-scrollbars --no-first-run "
        "--user-data-dir='" +
        dir.file("profile") + "'" + (::geteuid() == 0 ? " --no-sandbox" : "") + " ";
    const ToolRun dom = shell(chromium + "--dump-dom 'file://" + file + "' 2>/dev/null");
    ASSERT_EQ(dom.exitCode, 0) << dom.out;
    const std::string text = test::pageText(dom.out);
    for (const char* figure :
         {"The journal's chain is intact: 22 rows verified", "扫描 Scans 13 ",
          "打印 Labels printed 9 ", "已验证 Labels verified 8 ",
          "1 (imported before the journal) 1-8, 11 (9) none 1-2, 4-9 (8) 3 (1) 9 (1) 5 VX000005 "
          "×2 ",
          "正确 good 7 (53.8%)", "11-14 failed gLabels 1 11-11 printed; 打印机缺纸 out of paper",
          "Longest pause between scans: 00:51:00.000"})
        EXPECT_NE(text.find(figure), std::string::npos) << figure << "\n" << text;

    const ToolRun shot = shell(chromium + "--window-size=1280,1400 --screenshot='" + png +
                               "' 'file://" + file + "' 2>&1");
    ASSERT_EQ(shot.exitCode, 0) << shot.out;
    if (const char* artifacts = std::getenv("VEXORA_ARTIFACTS")) {
        std::filesystem::create_directories(artifacts);
        std::filesystem::copy_file(png, std::string(artifacts) + "/shift-report.png",
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::copy_file(file, std::string(artifacts) + "/shift-report.html",
                                   std::filesystem::copy_options::overwrite_existing);
    }
    // Two hours of 4 good scans: two bars of the full 36 x 160 pixels; the
    // good scans' share (7 of 13): a bar of 193 x 18 pixels; one duplicate
    // in 13: 27 x 18.
    EXPECT_GE(pixelsOfColour(png, "#1565c0"), 2 * 36 * 160 * 9 / 10);
    EXPECT_GE(pixelsOfColour(png, "#2e7d32"), 193 * 18 * 9 / 10);
    EXPECT_GE(pixelsOfColour(png, "#6a1b9a"), 27 * 18 * 9 / 10);
}
