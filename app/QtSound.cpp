#include "app/QtSound.h"

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

namespace vx::app {

QtSound::QtSound() : m_effect(std::make_unique<QSoundEffect>()) {}

QtSound::~QtSound() = default;

void QtSound::play(const std::string& path) {
    m_effect->stop();
    const QString file = QString::fromLocal8Bit(path.c_str());
    if (!QFileInfo::exists(file))
        return;
    m_effect->setSource(QUrl::fromLocalFile(file));
    m_effect->play(); // queued until loaded; returns at once
}

} // namespace vx::app
