// The whole chain as an operator uses it: the real station binary in its own
// folder with a real SQLite file, the real scanner simulator, clicks on the
// window through the X server. Needs an X display (Xvfb in CI) and xdotool;
// printing through gLabels needs the private CUPS of scripts/private-cups.sh;
// printing to a ZPL printer needs only a listener on the loopback.

#include "data/Database.h"
#include "tests/support/LiveStation.h"
#include "tests/support/PrintedPdf.h"
#include "tests/support/RawListener.h"
#include "tests/support/Screenshot.h"
#include "tests/support/ZplReader.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace vx;
using namespace std::chrono_literals;
using test::run;
using test::waitUntil;

namespace {

// The process that holds a POSIX lock on path; 0 when none does.
pid_t lockHolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET; // the whole file
    const int rc = ::fcntl(fd, F_GETLK, &lock);
    // This process never held a lock on it: closing costs it nothing.
    ::close(fd);
    return rc != 0 ? -1 : lock.l_type == F_UNLCK ? 0 : lock.l_pid;
}

} // namespace

TEST(EndToEnd, AnOperatorScansUnplugsAndReplugsThroughTheRealStation) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    int rc = 0;
    run("command -v xdotool", &rc);
    ASSERT_EQ(rc, 0) << "xdotool is missing: run scripts/install-deps.sh";

    // Every scan is sent in pieces of 3 bytes and ends with CR LF.
    test::LiveStation st(20, {"--suffix", "crlf", "--chunk", "3", "--chunk-delay", "8", "--quiet"});
    const std::string folder = st.folder(), link = st.scannerLink();
    test::Child& sim = st.scanner();
    ASSERT_TRUE(st.waitReady(15s)) << "station did not open the scanner and the database\n"
                                   << st.dump();
    ASSERT_TRUE(st.switchComparisonOn()) << "the clicks missed 开启对比\n" << st.dump();

    // Sends one scan and waits for the window to show the given verdict.
    auto scan = [&](const std::string& code, const std::string& label14) {
        const long before = st.seq();
        sim.writeLine(code);
        const bool shown =
            waitUntil([&] { return st.seq() > before && st.get("Label14") == label14; }, 5s);
        if (!shown)
            ADD_FAILURE() << "after scanning " << code << ":\n" << st.dump();
        return shown;
    };
    EXPECT_TRUE(scan("VX000001", "1")) << "good";
    EXPECT_TRUE(scan("VX000001", "1")) << "ignored repeat";
    EXPECT_EQ(st.get("LB_rec"), "1|1");
    EXPECT_EQ(st.get("btn_zongji"), "1") << "an ignored repeat is not counted";
    EXPECT_TRUE(scan("VX000003", "3")) << "missing range";
    EXPECT_EQ(st.get("LB_shao"), "2-2");
    EXPECT_TRUE(scan("VX000001", "1重复")) << "duplicate";
    EXPECT_EQ(st.get("LB_chong"), "1");
    EXPECT_TRUE(scan("VX12", "扫到的码有问题！")) << "wrong length";
    EXPECT_EQ(st.get("Lb_cuo"), "VX12<CR><LF>") << "the whole scan, CR LF included";
    EXPECT_TRUE(scan("XX000009", "数据库中查不到")) << "not found";
    EXPECT_EQ(st.get("Lb_cuo"), "VX12<CR><LF>|XX000009") << "the cut field, without CR LF";
    EXPECT_EQ(st.get("btn_zongji"), "3");
    EXPECT_EQ(st.get("btn_piji"), "3");

    {
        data::Connection db;
        db.openWith(data::openSqliteBackend(folder + "/station.db"));
        data::Query q(db);
        q.setText("select bh from a15 where prned=1 order by bh");
        q.open();
        std::string marked;
        for (; !q.eof(); q.next())
            marked += q.field(0).asText() + " ";
        EXPECT_EQ(marked, "1 3 ");
    }

    // Pull the scanner: the port button turns black, comparison is off.
    sim.writeLine("!unplug");
    EXPECT_TRUE(waitUntil(
        [&] { return st.get("btn_comset") == "black" && st.get("chk_start_enabled") == "0"; }, 5s));
    // The new device may get the old name back; the link itself is new.
    auto linkInode = [&] {
        struct stat s {};
        return ::lstat(link.c_str(), &s) == 0 ? s.st_ino : 0;
    };
    const auto oldLink = linkInode();
    sim.writeLine("!replug");
    ASSERT_TRUE(waitUntil([&] { return linkInode() != oldLink && linkInode() != 0; }, 5s));
    // 保存COM口; its "com口可用！" box stays open
    EXPECT_TRUE(st.clickUntil(test::LiveStation::kComSetX, test::LiveStation::kComSetY, [&] {
        return st.get("btn_comset") == "green" && st.get("chk_start_enabled") == "1";
    })) << st.dump();
    // Scans are handled while the message box is open.
    EXPECT_TRUE(scan("VX000004", "4"));
    EXPECT_EQ(st.get("btn_zongji"), "4");

    const char* artifacts = std::getenv("VEXORA_ARTIFACTS");
    const std::string shot = std::string(artifacts ? artifacts : ".") + "/e2e.png";
    std::filesystem::create_directories(std::filesystem::path(shot).parent_path());
    std::string why;
    EXPECT_TRUE(test::screenshot(shot, why)) << why;
    struct stat info {};
    EXPECT_EQ(::stat(shot.c_str(), &info), 0);
    EXPECT_GT(info.st_size, 1000);
}

// The station's message boxes and Qt's own windows come and go while the
// screen is taken: none of them may make the screenshot fail.
TEST(Screenshot, TheScreenIsTakenWhileWindowsComeAndGo) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    test::WindowChurn churn;
    int failed = 0;
    std::string why;
    for (int i = 0; i < 100; ++i) {
        test::ScreenImage image;
        if (!test::grabScreen(image, why) || image.width < 640 ||
            image.rgb.size() != std::size_t(image.width) * image.height * 3)
            ++failed;
    }
    test::TempDir dir;
    EXPECT_TRUE(test::screenshot(dir.file("shot.png"), why)) << why;
    EXPECT_EQ(test::readFile(dir.file("shot.png")).rfind("\x89PNG\r\n", 0), 0u);
    EXPECT_GT(churn.windows(), 0) << "no window came and went";
    EXPECT_EQ(failed, 0) << "the last failure: " << why;
}

TEST(EndToEnd, ScansBackToBackGiveOneVerdictEachAndALineBreakInsideAScanDoesNotSplitIt) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    // A fixed-mount scanner: CR LF after each code, a scan every 20 ms.
    test::LiveStation st(20, {"--suffix", "crlf", "--rate", "50", "--escapes", "--quiet"});
    test::Child& sim = st.scanner();
    ASSERT_TRUE(st.waitReady(15s)) << st.dump();
    ASSERT_TRUE(st.switchComparisonOn()) << st.dump();

    for (const char* code : {"VX000001", "VX000002", "VX000003", "VX000004", "VX000005"})
        sim.writeLine(code);
    EXPECT_TRUE(waitUntil([&] { return st.get("LB_rec") == "1|2|3|4|5"; }, 5s)) << st.dump();
    EXPECT_EQ(st.get("btn_zongji"), "5");
    EXPECT_EQ(st.get("LB_shao"), "") << "no false missing range";
    EXPECT_EQ(st.get("Lb_cuo"), "") << "no scan cut or merged into a wrong code";

    // A 2D code whose text holds a line break, sent at full speed.
    sim.writeLine("VX000006\\r\\nLOT 42");
    EXPECT_TRUE(waitUntil([&] { return st.get("LB_rec") == "1|2|3|4|5|6"; }, 5s)) << st.dump();
    EXPECT_EQ(st.get("edit_rec"), "VX000006\\r\\nLOT 42\\r\\n") << "one scan, line breaks kept";
    // Back-to-back scans are not merged with it either.
    sim.writeLine("VX000007");
    EXPECT_TRUE(waitUntil([&] { return st.get("LB_rec") == "1|2|3|4|5|6|7"; }, 5s)) << st.dump();
    EXPECT_EQ(st.get("Lb_cuo"), "");
    EXPECT_EQ(st.get("btn_zongji"), "7");
}

TEST(EndToEnd, AnOperatorPrintsARangeDirectlyAndScansThePrintedLabelsBack) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    std::string why;
    const auto chain = test::PrintChain::fromEnvironment(why);
    if (!chain) {
        if (std::getenv("CI"))
            FAIL() << why;
        GTEST_SKIP() << why;
    }
    // The labels printed by this test are the ones written from now on.
    const auto since = std::filesystem::file_time_type::clock::now() - 1s;
    test::LiveStation st(20, {"--suffix", "cr", "--quiet"});
    test::Child& sim = st.scanner();
    ASSERT_TRUE(st.waitReady(15s)) << st.dump();
    // The demo's config.ini names the example template: the switch is there.
    ASSERT_TRUE(st.switchDirectPrintOn()) << st.dump();
    ASSERT_TRUE(st.enterPrintRange("1-5"));
    ASSERT_TRUE(waitUntil(
        [&] { return st.get("LB_alprn") == "1-5" && st.get("Edit_willprn") == "6"; }, 10s))
        << st.dump();
    EXPECT_NE(test::readFile(st.folder() + "/config.ini").find("lastnum=5"), std::string::npos);

    // What the printer printed: five labels with their numbers and codes.
    const std::string pdf = test::waitForPrintedPdf(chain->pdfDir, "VX000005", 90s, since);
    ASSERT_FALSE(pdf.empty()) << "nothing printed; the station's error log:\n"
                              << test::readFile(st.folder() + "/error.log");
    const std::string text = test::pdfText(pdf);
    for (int i = 1; i <= 5; ++i)
        EXPECT_NE(text.find("No. " + std::to_string(i)), std::string::npos) << text;
    const std::vector<std::string> codes = test::pdfBarcodes(pdf, st.folder());
    std::filesystem::remove(pdf);
    ASSERT_EQ(codes, (std::vector<std::string>{"VX000001", "VX000002", "VX000003", "VX000004",
                                               "VX000005"}));

    // Scanning the printed labels back: five good verdicts.
    ASSERT_TRUE(st.switchComparisonOn()) << st.dump();
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const long before = st.seq();
        sim.writeLine(codes[i]);
        EXPECT_TRUE(waitUntil(
            [&] { return st.seq() > before && st.get("Label14") == std::to_string(i + 1); }, 5s))
            << codes[i] << "\n"
            << st.dump();
    }
    EXPECT_EQ(st.get("LB_rec"), "1|2|3|4|5");
    EXPECT_EQ(st.get("LB_shao"), "") << "no missing range";
    EXPECT_EQ(st.get("btn_zongji"), "5");
}

TEST(EndToEnd, AnOperatorPrintsRangesDirectlyToAZplPrinterOnTheLoopback) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    // The label printer: its raw port on the loopback, one connection a job.
    test::RawListener printer;
    test::LiveStation st(
        20, {"--suffix", "cr", "--quiet"}, false,
        {"VEXORA_DEMO_TEMPLATE=vexora-label.zpl", "VEXORA_DEMO_PRINTER=" + printer.destination()});
    ASSERT_TRUE(st.waitReady(15s)) << st.dump();
    ASSERT_TRUE(st.switchDirectPrintOn()) << st.dump();

    // Two ranges, one after the other, each with Enter in the start box.
    ASSERT_TRUE(st.enterPrintRange("1-6"));
    ASSERT_TRUE(waitUntil(
        [&] { return st.get("LB_alprn") == "1-6" && st.get("Edit_willprn") == "7"; }, 10s))
        << st.dump();
    ASSERT_TRUE(st.enterPrintRange("7-9"));
    ASSERT_TRUE(waitUntil([&] { return st.get("LB_alprn") == "1-6|7-9"; }, 10s)) << st.dump();

    ASSERT_TRUE(printer.waitJobs(2, 30s))
        << printer.jobs().size() << " job(s) arrived; the station's error log:\n"
        << test::readFile(st.folder() + "/error.log");
    // What the printer makes of the bytes: one format per record, in the
    // order of the batch list, each with its number and its code.
    const std::vector<std::string> jobs = printer.jobs();
    std::vector<std::string> printed;
    for (const std::string& job : jobs) {
        std::string problem;
        const std::vector<test::ZplFormat> formats = test::readZpl(job, problem);
        EXPECT_EQ(problem, "") << job;
        for (const test::ZplFormat& f : formats) {
            ASSERT_EQ(f.fields.size(), 3u) << f.raw;
            EXPECT_EQ(f.tildeCommands, 0) << f.raw;
            printed.push_back(f.fields[0] + " " + f.fields[1]);
        }
    }
    std::vector<std::string> expected;
    for (int i = 1; i <= 9; ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "VX%06d", i);
        expected.push_back("No. " + std::to_string(i) + " " + code);
    }
    EXPECT_EQ(jobs.size(), 2u);
    EXPECT_EQ(printed, expected);
    EXPECT_FALSE(std::filesystem::exists(st.folder() + "/error.log"))
        << test::readFile(st.folder() + "/error.log");
}

// The station's locks on its database after a file dialog, and a good scan's
// mark after a crash: a second program that opens and closes the database
// must find the station still using it and leave its log alone.
TEST(EndToEnd, AFileDialogLeavesTheStationItsLocksAndAKilledStationItsMarks) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    test::LiveStation st(5, {"--suffix", "crlf", "--quiet"});
    test::Child& sim = st.scanner();
    ASSERT_TRUE(st.waitReady(15s)) << st.dump();
    ASSERT_TRUE(st.switchComparisonOn()) << st.dump();
    const std::string db = st.folder() + "/station.db";
    const pid_t station = st.station().pid();
    ASSERT_EQ(lockHolder(db), station);

    // 导出, and Esc once the dialog has had time to list the station's folder.
    ASSERT_TRUE(st.clickUntil(test::LiveStation::kDataToX, test::LiveStation::kDataToY, [&] {
        return st.windowShown("选择文件");
    })) << st.dump();
    std::this_thread::sleep_for(2s);
    st.keys("Escape");
    ASSERT_TRUE(waitUntil([&] { return !st.windowShown("选择文件"); }, 5s));
    EXPECT_EQ(lockHolder(db), station);
    EXPECT_EQ(lockHolder(db + "-shm"), station);

    int rc = 0;
    EXPECT_EQ(run("sqlite3 '" + db + "' 'select count(*) from a15'", &rc), "5\n");
    EXPECT_TRUE(std::filesystem::exists(db + "-wal")) << "the log was deleted under the station";

    const long before = st.seq();
    sim.writeLine("VX000002");
    ASSERT_TRUE(waitUntil([&] { return st.seq() > before && st.get("Label14") == "2"; }, 5s))
        << st.dump();
    ::kill(station, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !st.station().running(); }, 5s));
    EXPECT_EQ(run("sqlite3 '" + db + "' 'select bh from a15 where prned=1'", &rc), "2\n")
        << "the mark of a scan shown good is gone";
}
