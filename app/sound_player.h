#pragma once
// The two sounds built into the program, played without making the caller wait. There may be
// no audio device at all: every failure to play is ignored and nothing is reported. Whether a
// sound is wanted (KESTREL_SND_SUCCESS, KESTREL_SND_ERROR) is the caller's decision.

#include <map>
#include <memory>
#include <string>
#include <string_view>

class QSoundEffect;

namespace kestrel {

inline constexpr std::string_view kSoundSuccess = "SND_SUCCESS";  // a download run has completed
inline constexpr std::string_view kSoundError = "SND_ERROR";      // a block stayed unanswered

class CSoundPlayer {
public:
    CSoundPlayer();
    ~CSoundPlayer();
    CSoundPlayer(const CSoundPlayer&) = delete;
    CSoundPlayer& operator=(const CSoundPlayer&) = delete;

    // Starts the named WAVE resource and returns at once; false when there is no such
    // resource, no audio output or the sound cannot be decoded.
    bool PlayWaveResource(std::string_view strName);

private:
    std::map<std::string, std::unique_ptr<QSoundEffect>, std::less<>> m_effects;
};

// Qt resource path of a WAVE resource, for example ":/WAVE/SND_SUCCESS".
std::string WaveResourcePath(std::string_view strName);

}  // namespace kestrel
