#include "sound_player.h"

#include <QFileInfo>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QString>
#include <QUrl>

namespace kestrel {

std::string WaveResourcePath(std::string_view strName) { return ":/WAVE/" + std::string(strName); }

CSoundPlayer::CSoundPlayer() = default;
CSoundPlayer::~CSoundPlayer() = default;

bool CSoundPlayer::PlayWaveResource(std::string_view strName)
{
    const QString path = QString::fromStdString(WaveResourcePath(strName));
    if (!QFileInfo(path).isFile() || QMediaDevices::audioOutputs().isEmpty()) return false;
    auto it = m_effects.find(strName);
    if (it == m_effects.end()) {
        // One effect per sound, kept for the life of the player: playback runs on after return.
        auto effect = std::make_unique<QSoundEffect>();
        effect->setSource(QUrl(QStringLiteral("qrc") + path));
        it = m_effects.emplace(std::string(strName), std::move(effect)).first;
    }
    QSoundEffect& effect = *it->second;
    if (effect.status() == QSoundEffect::Error) return false;
    effect.play();
    return true;
}

}  // namespace kestrel
