#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace vx::test {

// What the whole screen of $DISPLAY shows, 8-bit RGB row by row.
struct ScreenImage {
    int width = 0, height = 0;
    std::string rgb;
};

// False, with the reason in why, when the screen could not be read.
bool grabScreen(ScreenImage& image, std::string& why);
// The screen as a PNG file at pngPath.
bool screenshot(const std::string& pngPath, std::string& why);

// Windows created, shown and destroyed on $DISPLAY one after another, from
// a connection of its own, for as long as it lives: what the station's
// message boxes and Qt's own windows do while a screenshot is taken.
class WindowChurn {
public:
    WindowChurn();
    ~WindowChurn();
    WindowChurn(const WindowChurn&) = delete;
    WindowChurn& operator=(const WindowChurn&) = delete;
    // How many have come and gone so far.
    long windows() const { return m_windows; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_windows{0};
    std::thread m_thread;
};

} // namespace vx::test
