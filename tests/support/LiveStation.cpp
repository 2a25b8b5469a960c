#include "tests/support/LiveStation.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace vx::test {

using namespace std::chrono_literals;

LiveStation::LiveStation(int labels, const std::vector<std::string>& simulatorOptions, bool quiet,
                         const std::vector<std::string>& demoSettings)
    : m_folder(m_dir.path()), m_probe(m_dir.file("probe.txt")) {
    int rc = 0;
    std::string settings;
    for (const std::string& s : demoSettings)
        settings += "'" + s + "' ";
    run("env " + settings + "VEXORA_DEMO_LABELS=" + std::to_string(labels) +
            " bash " VEXORA_SOURCE_DIR "/scripts/demo-station.sh " + folder(),
        &rc);
    if (rc != 0)
        throw std::runtime_error("demo-station.sh failed");
    start(VEXORA_BIN_DIR "/vexora-scanner-sim", simulatorOptions, {folder() + "/vexora"}, {},
          quiet);
}

LiveStation::LiveStation(const Setup& setup, const std::vector<std::string>& simulatorOptions,
                         bool quiet)
    : m_folder(setup.folder), m_probe(m_dir.file("probe.txt")) {
    start(setup.simulator, simulatorOptions, setup.station, setup.environment, quiet);
}

void LiveStation::start(const std::string& simulator,
                        const std::vector<std::string>& simulatorOptions,
                        const std::vector<std::string>& station,
                        std::vector<std::string> environment, bool quiet) {
    std::vector<std::string> sim = {simulator, "--link", scannerLink()};
    sim.insert(sim.end(), simulatorOptions.begin(), simulatorOptions.end());
    m_simulator = std::make_unique<Child>(sim, "", true, std::vector<std::string>{}, quiet);
    // The station opens the scanner at start-up: the device must exist first.
    if (!waitUntil([&] { return std::filesystem::exists(scannerLink()); }, 5s))
        throw std::runtime_error("the simulator made no device");
    environment.push_back("VEXORA_UI_PROBE=" + m_probe);
    environment.push_back("QT_QPA_PLATFORM=xcb");
    m_station = std::make_unique<Child>(station, folder(), false, environment, quiet);
}

std::string LiveStation::get(const std::string& key) const {
    auto kv = readKeyValues(m_probe);
    return kv.count(key) ? kv[key] : std::string("<missing>");
}

long LiveStation::seq() const {
    return std::atol(get("seq").c_str());
}

std::string LiveStation::dump() const {
    return run("cat '" + m_probe + "' 2>/dev/null");
}

bool LiveStation::waitReady(std::chrono::milliseconds timeout) const {
    return waitUntil(
        [&] { return get("btn_comset") == "green" && get("chk_start_enabled") == "1"; }, timeout);
}

std::string LiveStation::windowId() const {
    // "Vexora", or "Vexora — FOLDER" for a station outside the program's folder.
    const std::string out = run("xdotool search --onlyvisible --name '^Vexora( |$)' 2>/dev/null");
    return out.substr(0, out.find('\n'));
}

bool LiveStation::windowShown(const std::string& title) const {
    return !run("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null").empty();
}

bool LiveStation::clickUntil(int x, int y, const std::function<bool()>& done) {
    std::string window;
    if (!waitUntil([&] { return !(window = windowId()).empty(); }, 5s))
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        run("xdotool mousemove --window " + window + " " + std::to_string(x) + " " +
            std::to_string(y) + " click 1");
        if (waitUntil(done, 3s))
            return true;
    }
    return false;
}

void LiveStation::keys(const std::string& xdotoolKeys) {
    run("xdotool key --clearmodifiers " + xdotoolKeys);
}

void LiveStation::type(const std::string& text) {
    run("xdotool type --clearmodifiers '" + text + "'");
}

bool LiveStation::switchComparisonOn() {
    return clickUntil(kChkStartX, kChkStartY, [&] { return get("chk_start_checked") == "1"; });
}

bool LiveStation::switchDirectPrintOn() {
    return get("chk_BTprn_enabled") == "1" &&
           clickUntil(kBTprnX, kBTprnY, [&] { return get("chk_BTprn_checked") == "1"; });
}

bool LiveStation::enterPrintRange(const std::string& text) {
    if (!clickUntil(kStartBoxX, kStartBoxY, [] { return true; }))
        return false;
    keys("ctrl+a");
    type(text);
    keys("Return");
    return true;
}

} // namespace vx::test
