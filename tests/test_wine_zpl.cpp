// The ZPL back end as the Windows build runs it, under Wine: vexora-btprint
// prints the shipped ZPL template through the Windows raw sender (Winsock,
// overlapped file writes), to a printer port on the loopback and to a file.

#include "tests/support/RawListener.h"
#include "tests/support/Wine.h"
#include "tests/support/ZplReader.h"

#include <gtest/gtest.h>

using vx::test::readFile;
using vx::test::WinePrefix;
using vx::test::writeFile;

namespace {

const std::string kTemplate = VEXORA_SOURCE_DIR "/print/templates/vexora-label.zpl";

// "No. 7 VX000007" for each label the printer reads out of the bytes.
std::vector<std::string> labels(const std::string& job) {
    std::string problem;
    std::vector<std::string> out;
    for (const vx::test::ZplFormat& f : vx::test::readZpl(job, problem))
        out.push_back(f.fields.size() == 3 ? f.fields[0] + " " + f.fields[1] : f.raw);
    if (!problem.empty())
        out.push_back("problem: " + problem);
    return out;
}

} // namespace

class WineZpl : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_wine = new WinePrefix(false); }
    static void TearDownTestSuite() {
        delete s_wine;
        s_wine = nullptr;
    }
    void SetUp() override { ASSERT_NE(s_wine, nullptr) << "no Wine prefix"; }

    vx::test::WineRun print(const std::string& printer) {
        return s_wine->run({WinePrefix::windowsProgram("vexora-btprint.exe"), "--log",
                            WinePrefix::windowsPath(s_wine->file("error.log")), "--printer",
                            printer, WinePrefix::windowsPath(kTemplate), "7|VX000007|",
                            "8|VX^XZ~JR|C:\\pics\\p_0008.png", "9|VX000009|"});
    }
    static WinePrefix* s_wine;
};

WinePrefix* WineZpl::s_wine = nullptr;

TEST_F(WineZpl, APrinterPortOnTheLoopbackGetsTheJobWhole) {
    vx::test::RawListener printer;
    const auto r = print(printer.destination());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("printed 3 label(s)"), std::string::npos) << r.out;
    ASSERT_TRUE(printer.waitJobs(1, std::chrono::seconds(30)));
    EXPECT_EQ(labels(printer.jobs()[0]),
              (std::vector<std::string>{"No. 7 VX000007", "No. 8 VX^XZ~JR", "No. 9 VX000009"}));
}

TEST_F(WineZpl, AFileTakesTheSameBytesAppendedAndAMissingOneIsNotCreated) {
    vx::test::RawListener printer;
    ASSERT_EQ(print(printer.destination()).status, 0);
    ASSERT_TRUE(printer.waitJobs(1, std::chrono::seconds(30)));
    const std::string out = s_wine->file("printer.prn");
    writeFile(out, "before\n");
    const auto r = print(WinePrefix::windowsPath(out));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(readFile(out) == "before\n" + printer.jobs()[0]) << readFile(out);

    const auto missing = print(WinePrefix::windowsPath(s_wine->file("none.prn")));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("failed; 0 of 3 label(s) sent to the printer: cannot open"),
              std::string::npos)
        << missing.out;
}

TEST_F(WineZpl, ARefusedPortFailsTheJobIntoTheErrorLog) {
    vx::test::ClosedPort closed;
    const auto r = print(closed.destination());
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("failed; 0 of 3 label(s) sent to the printer: cannot connect to " +
                         closed.destination()),
              std::string::npos)
        << r.out;
    EXPECT_NE(readFile(s_wine->file("error.log")).find("back end ZPL: cannot connect"),
              std::string::npos);
}
