#include "app/Sound.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <mmsystem.h>

namespace vx::app {
namespace {

class WaveSound final : public scan::SoundPlayer {
public:
    ~WaveSound() override { PlaySoundA(nullptr, nullptr, 0); }

    void play(const std::string& path) override {
        // An asynchronous sound replaces the one playing. The path is in the
        // ANSI code page, as every path of the station is on Windows; without
        // SND_NODEFAULT a missing file would play the system's default beep.
        PlaySoundA(path.c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
    }
};

} // namespace

std::unique_ptr<scan::SoundPlayer> createSoundPlayer() {
    return std::make_unique<WaveSound>();
}

} // namespace vx::app
