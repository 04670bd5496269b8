#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSoundEffect>
#include <QUrl>
#include <QFile>
#include <QAudioDevice>
#include <QMediaDevices>
#include <cstdint>
#include <memory>

#include "app/sound_player.h"

namespace kestrel {
namespace {

uint32_t Le(const QByteArray& bytes, int at, int size)
{
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

TEST(SoundResources, AreCompleteWaveFiles)
{
    struct Case {
        std::string_view name;
        uint32_t rate;
        double seconds;
    };
    const Case cases[] = {{kSoundSuccess, 8000, 3.5}, {kSoundError, 11025, 1.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        QFile file(QString::fromStdString(WaveResourcePath(c.name)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray wave = file.readAll();
        ASSERT_GE(wave.size(), 44);
        EXPECT_EQ(wave.left(4), "RIFF");
        EXPECT_EQ(Le(wave, 4, 4), static_cast<uint32_t>(wave.size() - 8));
        EXPECT_EQ(wave.mid(8, 8), "WAVEfmt ");
        EXPECT_EQ(Le(wave, 20, 2), 1u);  // PCM
        EXPECT_EQ(Le(wave, 22, 2), 1u);  // mono
        EXPECT_EQ(Le(wave, 24, 4), c.rate);
        EXPECT_EQ(Le(wave, 34, 2), 8u);  // bits per sample
        EXPECT_EQ(wave.mid(36, 4), "data");
        const uint32_t samples = Le(wave, 40, 4);
        EXPECT_LE(44 + samples, static_cast<uint32_t>(wave.size()));
        EXPECT_NEAR(static_cast<double>(samples) / c.rate, c.seconds, 0.1);
        // Not silence: the samples swing well away from the middle value 128.
        int lowest = 255;
        int highest = 0;
        for (uint32_t i = 0; i < samples; ++i) {
            lowest = std::min(lowest, static_cast<int>(static_cast<uint8_t>(wave[44 + static_cast<int>(i)])));
            highest = std::max(highest, static_cast<int>(static_cast<uint8_t>(wave[44 + static_cast<int>(i)])));
        }
        EXPECT_LT(lowest, 64);
        EXPECT_GT(highest, 192);
    }
}

class SoundPlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "test_sound_player";
        static char* argv[] = {name, nullptr};
        s_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    static void TearDownTestSuite() { s_app.reset(); }

    static std::unique_ptr<QCoreApplication> s_app;
    CSoundPlayer m_player;
};

std::unique_ptr<QCoreApplication> SoundPlayerTest::s_app;

TEST_F(SoundPlayerTest, PlaysOnlyItsOwnSounds)
{
    EXPECT_FALSE(m_player.PlayWaveResource("SND_MISSING"));
    EXPECT_FALSE(m_player.PlayWaveResource(""));
    // The test machines usually have no audio device: playback then does not start, and
    // that is all that happens.
    const bool bDevice = !QMediaDevices::audioOutputs().isEmpty();
    EXPECT_EQ(m_player.PlayWaveResource(kSoundSuccess), bDevice);
    EXPECT_EQ(m_player.PlayWaveResource(kSoundError), bDevice);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_player.PlayWaveResource(kSoundSuccess), bDevice);
}

TEST_F(SoundPlayerTest, QtDecodesBothSounds)
{
    for (const auto name : {kSoundSuccess, kSoundError}) {
        SCOPED_TRACE(std::string(name));
        QSoundEffect effect;
        effect.setSource(QUrl(QStringLiteral("qrc") + QString::fromStdString(WaveResourcePath(name))));
        QDeadlineTimer deadline(10000);
        while (effect.status() == QSoundEffect::Loading && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        EXPECT_EQ(effect.status(), QSoundEffect::Ready);
    }
}

}  // namespace
}  // namespace kestrel
