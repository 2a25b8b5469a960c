// The Windows station as an operator uses it, under Wine: vexora.exe of the
// Windows build in a fresh folder with an SQLite station made by
// vexora-import.exe, on a desktop of its own (a private Xvfb), the scanner
// simulator's pseudo-terminal as the prefix's COM1, clicks through the X
// server. Wine cannot report serial events on a pseudo-terminal; the
// station polls there. What the window shows is read from its diagnostics
// probe, exactly as the window's widgets hold it.

#include "tests/support/Processes.h"
#include "tests/support/RawListener.h"
#include "tests/support/Screenshot.h"
#include "tests/support/Wine.h"
#include "tests/support/ZplReader.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace std::chrono_literals;
using vx::test::readFile;
using vx::test::run;
using vx::test::waitUntil;
using vx::test::WinePrefix;
using vx::test::writeFile;

namespace {

// "标签甲乙" in GBK: eight bytes, as long as the station's codes.
const std::string kGbkLabel = "\xB1\xEA\xC7\xA9\xBC\xD7\xD2\xD2";

// A station folder with its simulator and vexora.exe under Wine. The
// locale names the ANSI code page Wine gives the station: zh_CN gives 936,
// en_US 1252.
class WineStation {
public:
    WineStation(const std::string& locale, const std::string& printer)
        : m_wine(true, {"LANG=" + locale, "LC_ALL=" + locale}), m_folder(m_wine.file("station")),
          m_probe(m_wine.file("probe.txt")) {
        std::filesystem::create_directories(m_folder);
        for (const char* f : {"vexora.exe", "vexora-import.exe", "vexora-journal.exe", "help.txt",
                              "vexora-label.zpl"})
            std::filesystem::copy_file(WinePrefix::windowsProgram(f), m_folder + "/" + f);
        // Labels VX000001 … VX000030, the 21st's text GBK in place of VX000021.
        std::string labels;
        for (int i = 1; i <= 30; ++i) {
            char code[16];
            std::snprintf(code, sizeof code, "VX%06d\r\n", i);
            labels += i == 21 ? kGbkLabel + "\r\n" : std::string(code);
        }
        writeFile(m_folder + "/labels.txt", labels);
        writeFile(m_folder + "/config.ini", "[Database]\r\nservername=station.db\r\n"
                                            "[com]\r\nnum=COM1\r\n"
                                            "[STR]\r\nstrstart=1\r\nstrnum=8\r\n"
                                            "[print]\r\nlienum=1\r\nlastnum=21\r\nbtfile=" +
                                                win("vexora-label.zpl") + "\r\nprinter=" + printer +
                                                "\r\n");
        const auto imported =
            m_wine.run({win("vexora-import.exe"), win(""), win("labels.txt"), "1", "a15"}, 120s);
        if (imported.status != 0)
            throw std::runtime_error("vexora-import.exe failed: " + imported.out + imported.err);

        // The simulator's pseudo-terminal is the prefix's COM1.
        const std::string link = m_wine.file("scanner");
        m_simulator = std::make_unique<vx::test::Child>(
            std::vector<std::string>{VEXORA_BIN_DIR "/vexora-scanner-sim", "--link", link,
                                     "--suffix", "cr", "--quiet"},
            "", true, std::vector<std::string>{}, true);
        if (!waitUntil([&] { return std::filesystem::exists(link); }, 5s))
            throw std::runtime_error("the simulator made no device");
        m_wine.linkSerialPort(1, std::filesystem::read_symlink(link));

        m_station = m_wine.start({win("vexora.exe")},
                                 {"VEXORA_UI_PROBE=" + WinePrefix::windowsPath(m_probe)}, m_folder);
    }

    std::string win(const std::string& name) const {
        return WinePrefix::windowsPath(m_folder + "/" + name);
    }
    const std::string& folder() const { return m_folder; }
    WinePrefix& wine() { return m_wine; }
    vx::test::Child& scanner() { return *m_simulator; }

    std::string get(const std::string& key) const {
        auto kv = vx::test::readKeyValues(m_probe);
        return kv.count(key) ? kv[key] : std::string("<missing>");
    }
    long seq() const { return std::atol(get("seq").c_str()); }
    std::string dump() const { return readFile(m_probe); }
    // What the window shows, and what the station's journal recorded.
    std::string report() {
        return dump() + "journal:\n" + m_wine.run({win("vexora-journal.exe"), "list"}, 120s).out;
    }

    bool waitReady() const {
        return waitUntil(
            [&] { return get("btn_comset") == "green" && get("chk_start_enabled") == "1"; }, 60s);
    }

    // Clicks at a point of the window (its client area) until done() holds.
    bool clickUntil(int x, int y, const std::function<bool()>& done) {
        std::string window;
        if (!waitUntil([&] { return !(window = windowId()).empty(); }, 30s))
            return false;
        for (int attempt = 0; attempt < 3; ++attempt) {
            xdotool("mousemove --window " + window + " " + std::to_string(x) + " " +
                    std::to_string(y) + " click 1");
            if (waitUntil(done, 5s))
                return true;
        }
        return false;
    }
    void xdotool(const std::string& args) const {
        run("DISPLAY=" + m_wine.display() + " xdotool " + args + " 2>/dev/null");
    }

    // Sends one scan and waits for the window to show the verdict text and
    // what else is given (probe key, value). The wait is long: under Wine on
    // a loaded machine the window has been seen to fall seconds behind.
    bool scan(const std::string& code, const std::string& label14,
              const std::vector<std::pair<std::string, std::string>>& also = {}) {
        const long before = seq();
        m_simulator->writeLine(code);
        return waitUntil(
            [&] {
                if (seq() <= before || get("Label14") != label14)
                    return false;
                for (const auto& [key, value] : also)
                    if (get(key) != value)
                        return false;
                return true;
            },
            30s);
    }

private:
    std::string windowId() const {
        const std::string out = run("DISPLAY=" + m_wine.display() +
                                    " xdotool search --onlyvisible --name '^Vexora$' 2>/dev/null");
        return out.substr(0, out.find('\n'));
    }

    WinePrefix m_wine;
    std::string m_folder, m_probe;
    std::unique_ptr<vx::test::Child> m_simulator, m_station;
};

// Points of the window's client area, from its layout.
constexpr int kChkStartX = 680 + 176 + 8, kChkStartY = 104 + 272 + 8;
constexpr int kBTprnX = 480 + 24 + 8, kBTprnY = 104 + 600 + 8;
constexpr int kStartBoxX = 496 + 56, kStartBoxY = 608 + 12;

// The station's verdict texts, each shown exactly, whatever the code page.
void scanEveryVerdict(WineStation& st) {
    EXPECT_TRUE(st.scan("VX000001", "1")) << "good\n" << st.report();
    EXPECT_TRUE(st.scan("VX000003", "3", {{"LB_shao", "2-2"}})) << "missing range\n" << st.report();
    EXPECT_TRUE(st.scan("VX000001", "1重复", {{"LB_chong", "1"}})) << "duplicate\n" << st.report();
    EXPECT_TRUE(st.scan("VX000003", "3重复")) << "duplicate\n" << st.report();
    // The whole scan, its CR included, in the list of wrong codes.
    EXPECT_TRUE(st.scan("VX12", "扫到的码有问题！", {{"Lb_cuo", "VX12<CR>"}})) << "wrong length\n"
                                                                               << st.report();
    EXPECT_TRUE(st.scan("XX000009", "数据库中查不到", {{"Lb_cuo", "VX12<CR>|XX000009"}}))
        << "not found\n"
        << st.report();
    EXPECT_EQ(st.get("LB_rec"), "1|3|1|3");
    EXPECT_EQ(st.get("btn_zongji"), "4");
}

void saveScreenshot(WineStation& st, const std::string& name) {
    // The window has its new texts; give the X server the time to show them.
    std::this_thread::sleep_for(1s);
    const char* artifacts = std::getenv("VEXORA_ARTIFACTS");
    const std::string shot = std::string(artifacts ? artifacts : ".") + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(shot).parent_path());
    const char* old = std::getenv("DISPLAY");
    const std::string saved = old ? old : "";
    ::setenv("DISPLAY", st.wine().display().c_str(), 1);
    std::string why;
    EXPECT_TRUE(vx::test::screenshot(shot, why)) << why;
    if (old)
        ::setenv("DISPLAY", saved.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
    struct stat info {};
    EXPECT_EQ(::stat(shot.c_str(), &info), 0);
    EXPECT_GT(info.st_size, 1000);
}

} // namespace

// On a Chinese Windows (code page 936): every verdict, a label text in GBK
// scanned and found, a range printed straight to a ZPL printer on the
// loopback, and the printed codes scanned back good.
TEST(WineStation, OnCodePage936AnOperatorScansEveryVerdictPrintsARangeAndScansItBack) {
    vx::test::RawListener printer;
    WineStation st("zh_CN.UTF-8", printer.destination());
    ASSERT_TRUE(st.waitReady()) << "COM1 or the database did not open\n" << st.dump();
    ASSERT_TRUE(
        st.clickUntil(kChkStartX, kChkStartY, [&] { return st.get("chk_start_checked") == "1"; }))
        << "the clicks missed 开启对比\n"
        << st.dump();
    scanEveryVerdict(st);

    // The GBK label: the scan shown as its characters, and found in a15
    // (record 21) byte for byte; 4-20 were skipped.
    EXPECT_TRUE(st.scan(kGbkLabel, "21")) << st.dump();
    EXPECT_EQ(st.get("edit_rec"), "标签甲乙\\r");
    EXPECT_EQ(st.get("edit_recstr"), "标签甲乙");
    EXPECT_EQ(st.get("LB_shao"), "2-2|4-20");
    saveScreenshot(st, "wine-station.png");
    // The journal tool reads the station's journal beside it and reports
    // the GBK scan in UTF-8.
    const auto journal =
        st.wine().run({st.win("vexora-journal.exe"), "list", "--verdict", "missing-range"}, 120s);
    EXPECT_EQ(journal.status, 0) << journal.out << journal.err;
    EXPECT_NE(journal.out.find("标签甲乙"), std::string::npos) << journal.out;

    // Print 22-24 straight to the printer: the direct-print switch, then the
    // range in the start box, which starts after the last printed (21).
    EXPECT_EQ(st.get("Edit_willprn"), "22");
    ASSERT_EQ(st.get("chk_BTprn_enabled"), "1") << st.dump();
    ASSERT_TRUE(st.clickUntil(kBTprnX, kBTprnY, [&] { return st.get("chk_BTprn_checked") == "1"; }))
        << st.dump();
    ASSERT_TRUE(st.clickUntil(kStartBoxX, kStartBoxY, [] { return true; }));
    st.xdotool("key --clearmodifiers ctrl+a");
    st.xdotool("type --clearmodifiers 22-24");
    st.xdotool("key --clearmodifiers Return");
    ASSERT_TRUE(waitUntil([&] { return st.get("LB_alprn") == "22-24"; }, 20s)) << st.dump();
    ASSERT_TRUE(printer.waitJobs(1, 60s))
        << "nothing printed; the station's error log:\n"
        << readFile(st.folder() + "/error.log") << "\nits journal:\n"
        << st.wine().run({st.win("vexora-journal.exe"), "list"}, 120s).out;
    std::vector<std::string> codes;
    for (const std::string& job : printer.jobs()) {
        std::string problem;
        for (const vx::test::ZplFormat& f : vx::test::readZpl(job, problem)) {
            ASSERT_EQ(f.fields.size(), 3u) << f.raw;
            codes.push_back(f.fields[1]);
        }
        EXPECT_EQ(problem, "") << job;
    }
    ASSERT_EQ(codes, (std::vector<std::string>{"VX000022", "VX000023", "VX000024"}));

    // Scanned back: each good, the next number after the last one.
    for (std::size_t i = 0; i < codes.size(); ++i)
        EXPECT_TRUE(st.scan(codes[i], std::to_string(22 + i))) << codes[i] << "\n" << st.dump();
    EXPECT_EQ(st.get("LB_shao"), "2-2|4-20") << "no new missing range";
    EXPECT_EQ(st.get("LB_rec"), "1|3|1|3|21|22|23|24");
    EXPECT_EQ(st.get("btn_zongji"), "8");
    saveScreenshot(st, "wine-station-printed.png");
}

// On a Western Windows (code page 1252), where the verdicts' characters are
// no text of the code page at all, they are still shown exactly.
TEST(WineStation, OnCodePage1252EveryVerdictIsShownExactly) {
    WineStation st("en_US.UTF-8", "");
    ASSERT_TRUE(st.waitReady()) << "COM1 or the database did not open\n" << st.dump();
    ASSERT_TRUE(st.clickUntil(kChkStartX, kChkStartY, [&] {
        return st.get("chk_start_checked") == "1";
    })) << st.dump();
    scanEveryVerdict(st);
}
