#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vx::scan {

// A result list: entries appended at the end, the newest scrolled to the top
// of the visible part. Held in memory only, without a length limit.
class ResultList {
public:
    void append(std::string entry);
    void clear();
    // Deletes the selected entry; -1 (nothing selected) does nothing.
    void removeSelected(int index);
    const std::vector<std::string>& items() const { return m_items; }
    // Index of the entry shown at the top.
    int topIndex() const { return m_top; }

private:
    std::vector<std::string> m_items;
    int m_top = 0;
};

// The two scan counters, shown on btn_zongji and btn_piji.
struct ScanCounters {
    std::int32_t total = 0;
    std::int32_t batch = 0;
    void count() {
        ++total;
        ++batch;
    }
};

// The blinking of the caption above a result list (Timer_shan, 200 ms).
// A flash inverts its label 40 times, then shows all three captions and
// stops; a verdict during a flash only changes the target, and the tick
// count is not reset by a new flash.
class FlashState {
public:
    static constexpr int kIntervalMs = 200;
    static constexpr int kInversions = 40;
    enum Caption { Label9, Label10, Label11 };

    // Enabling a running timer leaves its timing alone.
    void start(const std::string& target);
    void tick();
    // A running flash starts its 40 inversions again.
    void resetTicks() { m_ticks = 0; }
    bool enabled() const { return m_enabled; }
    bool visible(Caption c) const { return m_visible[c]; }
    int ticks() const { return m_ticks; }
    const std::string& target() const { return m_target; }

private:
    std::string m_target;
    int m_ticks = 0;
    bool m_enabled = false;
    std::array<bool, 3> m_visible{true, true, true};
};

// The alarm (play_timer, 150 ms): the sound plays on the second tick, 300 ms
// after the verdict; verdicts before then give no second alarm.
class AlarmState {
public:
    static constexpr int kIntervalMs = 150;
    void start() { m_enabled = true; }
    // True when the alarm sound is to be played now.
    bool tick();
    bool enabled() const { return m_enabled; }

private:
    bool m_pending = false;
    bool m_enabled = false;
};

// Plays a sound file asynchronously; a newer sound cuts off one still playing.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const std::string& path) = 0;
};

// Brings the station window to the front over other applications.
class WindowActivator {
public:
    virtual ~WindowActivator() = default;
    // Called as each scan arrives: remember who is in front now.
    virtual void captureForeground() {}
    virtual void bringToFront() = 0;
};

} // namespace vx::scan
