#include "app/Sound.h"

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

namespace vx::app {
namespace {

class QtSound final : public scan::SoundPlayer {
public:
    void play(const std::string& path) override {
        m_effect.stop();
        const QString file = QString::fromLocal8Bit(path.c_str());
        if (!QFileInfo::exists(file))
            return;
        m_effect.setSource(QUrl::fromLocalFile(file));
        m_effect.play(); // queued until loaded; returns at once
    }

private:
    QSoundEffect m_effect;
};

} // namespace

std::unique_ptr<scan::SoundPlayer> createSoundPlayer() {
    return std::make_unique<QtSound>();
}

} // namespace vx::app
