// The print job's BarTender back end, as the Windows build runs it, against a
// recording automation server registered in a Wine prefix under BarTender's
// ProgID: the calls, their order, their dispatch flags and the VARIANT types
// of their arguments are what the label-printing application gets.

#include "tests/support/Wine.h"

#include <gtest/gtest.h>
#include <sstream>

using vx::test::readFile;
using vx::test::WinePrefix;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

// A recorded call with its flags reduced to what the job asked for: a
// method call may also carry DISPATCH_PROPERTYGET (what late-bound callers
// commonly pass for a call with a result); a property read is a read, a put
// a put.
std::string normalised(const std::string& line) {
    std::istringstream in(line);
    std::string member, flags;
    in >> member >> flags;
    if (member == "create" || member == "release" || member == "unknown")
        return line.substr(0, line.find(" thread=")); // thread and apartment checked apart
    std::string kind = flags;
    if (flags == "method+get" || flags == "method")
        kind = "method";
    std::string rest;
    std::getline(in, rest);
    return member + " " + kind + rest;
}

class WineBarTender : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Wine's ANSI code page is 1252 here: the template path's "É" reaches
        // the job as one byte of it and must reach BarTender as U+00C9. (A
        // Chinese code page needs a zh_CN locale on the Unix side, which
        // would garble the command line without one.)
        s_wine = new WinePrefix(false);
        const std::string dll =
            WinePrefix::windowsPath(WinePrefix::windowsProgram("vexora-bartender-recorder.dll"));
        const auto reg = s_wine->run({"regsvr32", "/s", dll});
        ASSERT_EQ(reg.status, 0) << reg.err;
        const auto query = s_wine->run({"reg", "query", "HKCR\\BarTender.Application.10\\CLSID"});
        ASSERT_NE(query.out.find("{5B3C2A71-9E0D-4C8F-A1B6-7D42E9F03C15}"), std::string::npos)
            << "the recorder is not registered as BarTender:\n"
            << query.out << query.err;
    }
    void SetUp() override { ASSERT_NE(s_wine, nullptr) << "no Wine prefix"; }
    static void TearDownTestSuite() {
        delete s_wine;
        s_wine = nullptr;
    }

    struct Job {
        int status = -1;
        std::string out;
        std::vector<std::string> calls; // normalised
        std::vector<std::string> raw;
    };

    // Runs vexora-btprint with args; fail names a member the server fails.
    Job print(const std::vector<std::string>& args, const std::string& fail = "") {
        const std::string log = s_wine->file("calls" + std::to_string(++s_runs) + ".txt");
        std::vector<std::string> argv = {WinePrefix::windowsProgram("vexora-btprint.exe"), "--log",
                                         WinePrefix::windowsPath(log + ".errors")};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> env = {"VEXORA_BT_LOG=" + WinePrefix::windowsPath(log)};
        if (!fail.empty())
            env.push_back("VEXORA_BT_FAIL=" + fail);
        const auto r = s_wine->run(argv, std::chrono::seconds(120), env);
        Job job;
        job.status = r.status;
        job.out = r.out + r.err;
        job.raw = lines(readFile(log));
        for (const std::string& l : job.raw)
            if (l != "release Formats") // when the collection goes is not the job's business
                job.calls.push_back(normalised(l));
        return job;
    }

    static std::string joined(const std::vector<std::string>& v) {
        std::string out;
        for (const auto& s : v)
            out += s + "\n";
        return out;
    }

    static WinePrefix* s_wine;
    static int s_runs;
};

WinePrefix* WineBarTender::s_wine = nullptr;
int WineBarTender::s_runs = 0;

const char* const kTemplate = "C:\\Étiquettes\\Line 3\\label.btw";

TEST_F(WineBarTender, ARangeMakesExactlyTheAutomationCallsInOrder) {
    const Job job = print({kTemplate, "7|VX000007|", "8|VX000008|C:\\pics\\p_0008.jpg", "9|VX 9"});
    EXPECT_EQ(job.status, 0) << job.out;
    const std::vector<std::string> expected = {
        "create BarTender.Application.10",
        "Application.Visible put VT_BOOL=false",
        "Application.formats get",
        "Formats.open method VT_BSTR|VT_BYREF=\"C:\\Étiquettes\\Line 3\\label.btw\" VT_BOOL=true "
        "VT_BSTR=\"\"",
        "Format.SetNamedSubStringValue method VT_BSTR=\"sjy-bh\" VT_BSTR=\"7\"",
        "Format.SetNamedSubStringValue method VT_BSTR=\"sjy-tt\" VT_BSTR=\"VX000007\"",
        "Format.printout method VT_I4=1 VT_BOOL=false",
        "Format.SetNamedSubStringValue method VT_BSTR=\"sjy-bh\" VT_BSTR=\"8\"",
        "Format.SetNamedSubStringValue method VT_BSTR=\"sjy-tt\" VT_BSTR=\"VX000008\"",
        "Format.SetNamedSubStringValue method VT_BSTR=\"sjy-pic\" "
        "VT_BSTR=\"C:\\pics\\p_0008.jpg\"",
        "Format.printout method VT_I4=1 VT_BOOL=false",
        "Format.SetNamedSubStringValue method VT_BSTR=\"sjy-bh\" VT_BSTR=\"9\"",
        "Format.SetNamedSubStringValue method VT_BSTR=\"sjy-tt\" VT_BSTR=\"VX 9\"",
        "Format.printout method VT_I4=1 VT_BOOL=false",
        "Format.Close method VT_I4=0",
        "release Format",
        "Application.quit method VT_I4=1",
        "release Application",
    };
    EXPECT_EQ(joined(job.calls), joined(expected));
    ASSERT_FALSE(job.raw.empty());
    // Created on the print worker's thread, which set up COM for itself.
    EXPECT_NE(job.raw[0].find(" thread=worker"), std::string::npos) << job.raw[0];
    EXPECT_EQ(job.raw[0].find(" apartment=none"), std::string::npos) << job.raw[0];
}

TEST_F(WineBarTender, ATemplateThatDoesNotOpenEndsTheJobWithoutCloseOrQuit) {
    const Job job = print({kTemplate, "1|VX000001|"}, "open");
    EXPECT_EQ(job.status, 1) << job.out;
    const std::vector<std::string> expected = {
        "create BarTender.Application.10",
        "Application.Visible put VT_BOOL=false",
        "Application.formats get",
        "Formats.open method VT_BSTR|VT_BYREF=\"C:\\Étiquettes\\Line 3\\label.btw\" VT_BOOL=true "
        "VT_BSTR=\"\" -> fails",
        "release Application",
    };
    EXPECT_EQ(joined(job.calls), joined(expected));
}

TEST_F(WineBarTender, AReversedRangeOpensClosesAndQuitsWithoutPrinting) {
    const Job job = print({"--range", "9", "7", kTemplate, "7|VX000007|", "8|VX000008|"});
    EXPECT_EQ(job.status, 0) << job.out;
    const std::vector<std::string> expected = {
        "create BarTender.Application.10",
        "Application.Visible put VT_BOOL=false",
        "Application.formats get",
        "Formats.open method VT_BSTR|VT_BYREF=\"C:\\Étiquettes\\Line 3\\label.btw\" VT_BOOL=true "
        "VT_BSTR=\"\"",
        "Format.Close method VT_I4=0",
        "release Format",
        "Application.quit method VT_I4=1",
        "release Application",
    };
    EXPECT_EQ(joined(job.calls), joined(expected));
}

TEST_F(WineBarTender, DirectPrintingOfABtwTemplateFollowsWhetherTheAutomationServerIsRegistered) {
    // No BarTender window is open in the prefix: the job starts its own.
    const std::string dll =
        WinePrefix::windowsPath(WinePrefix::windowsProgram("vexora-bartender-recorder.dll"));
    auto check = [&] {
        const std::string out =
            s_wine->run({WinePrefix::windowsProgram("vexora-btprint.exe"), "--check", kTemplate})
                .out;
        return out.substr(0, out.find_first_of("\r\n"));
    };
    EXPECT_EQ(check(), "direct printing offered");
    ASSERT_EQ(s_wine->run({"regsvr32", "/s", "/u", dll}).status, 0);
    const std::string unregistered = check();
    // Registered again for the other tests, whatever happened above.
    ASSERT_EQ(s_wine->run({"regsvr32", "/s", dll}).status, 0);
    EXPECT_EQ(unregistered, "direct printing not offered");
    EXPECT_EQ(check(), "direct printing offered");
}

} // namespace
