#pragma once

#include "tests/support/Processes.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vx::test {

// A demo station in a folder of its own, driven from outside as an operator
// would: the real vexora binary (reporting what its window shows through its
// UI probe file), the real scanner simulator, and clicks through the X
// server with xdotool. Needs an X display.
class LiveStation {
public:
    // Window coordinates of the middle of two controls, from the layout.
    static constexpr int kChkStartX = 680 + 176 + 8, kChkStartY = 104 + 272 + 8;
    static constexpr int kComSetX = 680 + 182 + 33, kComSetY = 104 + 19 + 12;
    static constexpr int kBTprnX = 480 + 24 + 8, kBTprnY = 104 + 600 + 8;
    static constexpr int kStartBoxX = 496 + 56, kStartBoxY = 608 + 12;
    static constexpr int kDataToX = 887 + 37, kDataToY = 735 + 12;

    // Sets up the folder with labels VX000001 … and starts the simulator
    // (with simulatorOptions) and the station. quiet: their output is
    // dropped. demoSettings: NAME=value settings for scripts/demo-station.sh
    // (VEXORA_DEMO_TEMPLATE, VEXORA_DEMO_PRINTER).
    LiveStation(int labels, const std::vector<std::string>& simulatorOptions, bool quiet = false,
                const std::vector<std::string>& demoSettings = {});

    // A station set up elsewhere (an installed one): started with the
    // command line given (NAME=value settings added to its environment), its
    // scanner made by the simulator given, linked at folder/scanner.
    struct Setup {
        std::vector<std::string> station;
        std::vector<std::string> environment;
        std::string simulator;
        std::string folder;
    };
    LiveStation(const Setup& setup, const std::vector<std::string>& simulatorOptions,
                bool quiet = false);

    const std::string& folder() const { return m_folder; }
    std::string scannerLink() const { return m_folder + "/scanner"; }
    Child& scanner() { return *m_simulator; }
    Child& station() { return *m_station; }

    // What the window shows: one value of the probe ("<missing>" if none),
    // its change counter, and the whole probe for failure messages.
    std::string get(const std::string& key) const;
    long seq() const;
    std::string dump() const;

    // Waits until the station has its port and database open.
    bool waitReady(std::chrono::milliseconds timeout) const;
    // Clicks at window coordinates until done() holds. A click that comes
    // while the window is still being mapped can be lost; one that lands
    // does not land twice, since the next is sent only after the first
    // showed nothing for a while.
    bool clickUntil(int x, int y, const std::function<bool()>& done);
    // Ticks "开启对比".
    bool switchComparisonOn();
    // Ticks "直接BT打印"; false when it is disabled or the tick never shows.
    bool switchDirectPrintOn();
    // Types text into the start box in place of what it held and presses
    // Enter; false when the box could not be clicked.
    bool enterPrintRange(const std::string& text);
    // Whether a window with exactly this title is on the screen.
    bool windowShown(const std::string& title) const;
    // Types keys into the window (xdotool key names: "ctrl+a", "Return").
    void keys(const std::string& xdotoolKeys);
    void type(const std::string& text);

    // The station's window: its X id, "" when it is not shown.
    std::string windowId() const;

private:
    void start(const std::string& simulator, const std::vector<std::string>& simulatorOptions,
               const std::vector<std::string>& station, std::vector<std::string> environment,
               bool quiet);

    TempDir m_dir;
    std::string m_folder;
    std::string m_probe;
    std::unique_ptr<Child> m_simulator, m_station;
};

} // namespace vx::test
