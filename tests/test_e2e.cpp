// The whole chain as an operator uses it: the real station binary in its own
// folder with a real SQLite file, the real scanner simulator, clicks on the
// window through the X server. Needs an X display (Xvfb in CI) and xdotool.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "data/Database.h"
#include "tests/support/Processes.h"
#include "tests/support/TempDir.h"

using namespace vx;
using namespace std::chrono_literals;
using test::readKeyValues;
using test::run;
using test::waitUntil;

namespace {

class Station {
public:
    explicit Station(const std::string& folder) : m_probe(folder + "/probe.txt") {}
    std::map<std::string, std::string> state() const { return readKeyValues(m_probe); }
    std::string get(const std::string& key) const {
        auto s = state();
        return s.count(key) ? s[key] : std::string("<missing>");
    }
    long seq() const { return std::atol(get("seq").c_str()); }
    std::string dump() const { return test::run("cat '" + m_probe + "' 2>/dev/null"); }
    const std::string& probe() const { return m_probe; }

private:
    std::string m_probe;
};

std::string windowId() {
    const std::string out = run("xdotool search --onlyvisible --name '^Vexora$' 2>/dev/null");
    return out.substr(0, out.find('\n'));
}

void click(const std::string& window, int x, int y) {
    run("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
        " click 1");
}

// Clicks until the window shows what the click is for. A click that comes
// while the window is still being mapped can be lost; one that lands does
// not land twice, since the next click is sent only when the first showed
// nothing for a while.
bool clickUntil(const std::string& window, int x, int y, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        click(window, x, y);
        if (waitUntil(done, 3s))
            return true;
    }
    return false;
}

// Window coordinates of the middle of two controls, from the layout.
constexpr int kChkStartX = 680 + 176 + 8, kChkStartY = 104 + 272 + 8;
constexpr int kComSetX = 680 + 182 + 33, kComSetY = 104 + 19 + 12;

} // namespace

TEST(EndToEnd, AnOperatorScansUnplugsAndReplugsThroughTheRealStation) {
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    int rc = 0;
    run("command -v xdotool", &rc);
    ASSERT_EQ(rc, 0) << "xdotool is missing: run scripts/install-deps.sh";

    test::TempDir dir;
    const std::string folder = dir.path();
    run("VEXORA_DEMO_LABELS=20 bash " VEXORA_SOURCE_DIR "/scripts/demo-station.sh " + folder, &rc);
    ASSERT_EQ(rc, 0);
    const std::string link = folder + "/scanner";

    test::Child sim({VEXORA_BIN_DIR "/vexora-scanner-sim", "--link", link, "--suffix", "crlf", "--chunk", "3",
                     "--chunk-delay", "8", "--quiet"},
                    "", true);
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(link); }, 5s));

    Station st(folder);
    test::Child station({folder + "/vexora"}, folder, false,
                        {"VEXORA_UI_PROBE=" + st.probe(), "QT_QPA_PLATFORM=xcb"});
    ASSERT_TRUE(waitUntil([&] { return st.get("btn_comset") == "green" && st.get("chk_start_enabled") == "1"; }, 15s))
        << "station did not open the scanner and the database\n" << st.dump();

    std::string window;
    ASSERT_TRUE(waitUntil([&] { return !(window = windowId()).empty(); }, 5s));
    ASSERT_TRUE(clickUntil(window, kChkStartX, kChkStartY, [&] { return st.get("chk_start_checked") == "1"; }))
        << "the clicks missed 开启对比\n" << st.dump();

    // Sends one scan and waits for the window to show the given verdict.
    auto scan = [&](const std::string& code, const std::string& label14) {
        const long before = st.seq();
        sim.writeLine(code);
        const bool shown = waitUntil([&] { return st.seq() > before && st.get("Label14") == label14; }, 5s);
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
    EXPECT_EQ(st.get("Lb_cuo"), "VX12␍␊") << "the whole scan, CR LF included";
    EXPECT_TRUE(scan("XX000009", "数据库中查不到")) << "not found";
    EXPECT_EQ(st.get("Lb_cuo"), "VX12␍␊|XX000009") << "the cut field, without CR LF";
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
    EXPECT_TRUE(waitUntil([&] { return st.get("btn_comset") == "black" && st.get("chk_start_enabled") == "0"; }, 5s));
    // The new device may get the old name back; the link itself is new.
    auto linkInode = [&] {
        struct stat s {};
        return ::lstat(link.c_str(), &s) == 0 ? s.st_ino : 0;
    };
    const auto oldLink = linkInode();
    sim.writeLine("!replug");
    ASSERT_TRUE(waitUntil([&] { return linkInode() != oldLink && linkInode() != 0; }, 5s));
    // 保存COM口; its "com口可用！" box stays open
    EXPECT_TRUE(clickUntil(window, kComSetX, kComSetY,
                           [&] { return st.get("btn_comset") == "green" && st.get("chk_start_enabled") == "1"; }))
        << st.dump();
    // Scans are handled while the message box is open.
    EXPECT_TRUE(scan("VX000004", "4"));
    EXPECT_EQ(st.get("btn_zongji"), "4");

    const char* artifacts = std::getenv("VEXORA_ARTIFACTS");
    const std::string shot = std::string(artifacts ? artifacts : ".") + "/e2e.png";
    std::filesystem::create_directories(std::filesystem::path(shot).parent_path());
    run("xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng > '" + shot + "'");
    struct stat info {};
    EXPECT_EQ(::stat(shot.c_str(), &info), 0);
    EXPECT_GT(info.st_size, 1000);
}
