// vexora-journal as a supervisor's script runs it: its output and its exit
// codes, on the scripted shift.

#include "journal/Journal.h"
#include "tests/support/ScriptedShift.h"
#include "tests/support/TempDir.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

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
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
