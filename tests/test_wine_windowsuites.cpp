// The window suites of the Windows build, offscreen under Wine, once with
// the ANSI code page of a Chinese Windows (936) and once with a Western one
// (1252): the window's tests on the Windows platform's text conversions,
// file system and settings file.

#include "tests/support/Wine.h"

#include <gtest/gtest.h>

using vx::test::WinePrefix;

namespace {

struct SuiteRun {
    const char* suite;
    const char* locale; // zh_CN gives code page 936, en_US 1252
};

class WineWindowSuite : public ::testing::TestWithParam<SuiteRun> {};

} // namespace

TEST_P(WineWindowSuite, PassesOffscreen) {
    const SuiteRun& p = GetParam();
    const std::string locale = std::string(p.locale) + ".UTF-8";
    WinePrefix wine(false, {"LANG=" + locale, "LC_ALL=" + locale});
    // Wine hands WINEQT_… on as QT_…; the offscreen platform finds fonts only
    // in a folder it is given.
    const auto r = wine.run(
        {WinePrefix::windowsProgram(std::string(p.suite) + ".exe")}, std::chrono::seconds(240),
        {"VEXORA_TEST_QPA=offscreen",
         "WINEQT_QPA_FONTDIR=" + WinePrefix::windowsPath("/usr/share/fonts/truetype/wqy")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("[  PASSED  ]"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(r.out.find("[  FAILED  ]"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Suites, WineWindowSuite,
    ::testing::Values(SuiteRun{"test_stationtext", "zh_CN"}, SuiteRun{"test_stationtext", "en_US"},
                      SuiteRun{"test_dataarea", "zh_CN"}, SuiteRun{"test_dataarea", "en_US"},
                      SuiteRun{"test_stationprint", "zh_CN"},
                      SuiteRun{"test_stationprint", "en_US"}),
    [](const auto& info) { return std::string(info.param.suite) + "_" + info.param.locale; });
