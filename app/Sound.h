#pragma once

#include "scan/Alerts.h"

#include <memory>

namespace vx::app {

// The station's sounds are WAV files beside the executable, played
// asynchronously, one at a time: a newer sound cuts off the one still
// playing, and a missing file is silent. Linux plays them through Qt
// Multimedia (SoundQt.cpp), Windows through the system's own wave player
// (SoundWin32.cpp).
std::unique_ptr<scan::SoundPlayer> createSoundPlayer();

} // namespace vx::app
