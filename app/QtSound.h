#pragma once

#include "scan/Alerts.h"

#include <memory>

class QSoundEffect;

namespace vx::app {

// Plays WAV files asynchronously through Qt Multimedia. One sound at a time:
// a newer sound cuts off the one still playing; a missing file is silent.
class QtSound final : public scan::SoundPlayer {
public:
    QtSound();
    ~QtSound() override;
    void play(const std::string& path) override;

private:
    std::unique_ptr<QSoundEffect> m_effect;
};

} // namespace vx::app
