// Whole download sessions against the model handset in virtual time: a fixed series of
// seeded schedules, and by name the sessions that once went wrong.

#include <gtest/gtest.h>

#include "image/download_type.h"
#include "schedule_runner.h"

namespace kestrel::test {
namespace {

constexpr uint64_t kSeriesBase = 0x4B657374'72656C00ull;

// About ten seconds of the release build. The sanitizer builds, about five (address) and
// fifteen (thread) times slower, play the start of the same series.
#if defined(__has_feature)
#define KESTREL_HAS_FEATURE(name) __has_feature(name)
#else
#define KESTREL_HAS_FEATURE(name) 0
#endif
#if defined(__SANITIZE_THREAD__) || KESTREL_HAS_FEATURE(thread_sanitizer)
constexpr uint64_t kSeriesLength = 400;
#elif defined(__SANITIZE_ADDRESS__) || KESTREL_HAS_FEATURE(address_sanitizer)
constexpr uint64_t kSeriesLength = 1000;
#else
constexpr uint64_t kSeriesLength = 3000;
#endif

TEST(Schedules, EverySeedOfTheSeriesKeepsTheProperties)
{
    for (uint64_t i = 0; i < kSeriesLength; ++i) {
        const Verdict verdict = PlaySchedule(GenerateSchedule(SeriesSeed(kSeriesBase, i)));
        EXPECT_TRUE(verdict.bPassed) << verdict.strReport;
    }
}

TEST(Schedules, ASeedPlaysAlikeEveryTime)
{
    for (uint64_t i = 0; i < 8; ++i) {
        const Schedule schedule = GenerateSchedule(SeriesSeed(kSeriesBase, i));
        EXPECT_EQ(PlaySchedule(schedule).strTrace, PlaySchedule(schedule).strTrace) << schedule.Describe();
    }
}

TEST(Schedules, TheSameSeedGivesTheSameSchedule)
{
    const uint64_t seed = SeriesSeed(kSeriesBase, 3);
    EXPECT_EQ(GenerateSchedule(seed).Describe(), GenerateSchedule(seed).Describe());
    EXPECT_NE(GenerateSchedule(seed).Describe(), GenerateSchedule(seed + 1).Describe());
}

struct NamedSession {
    const char* name;
    int nType;
    std::vector<FaultRule> faults;
    unsigned nEraseMs;
    unsigned nSwitchMs;
    bool bSwitchReenumerates;
    RunOutcome eOutcome;
    int64_t nEndsWithinMs;  // of the run's start, in virtual time
};

FaultRule Rule(const char* rule)
{
    FaultRule f;
    f.vecRules = {rule};
    return f;
}

Schedule SessionOf(const NamedSession& c)
{
    Schedule s;
    s.nType = c.nType;
    s.image = MakeImage(7, 5 * 1024 + 100, !IsFontType(c.nType));
    s.nFlashSize = FlashSizeFor(c.nType);
    s.bPace = true;
    s.nEraseMs = c.nEraseMs;
    s.nSwitchMs = c.nSwitchMs;
    s.bSwitchReenumerates = c.bSwitchReenumerates;
    s.vecFaults = c.faults;
    return s;
}

TEST(Schedules, NamedSessionsEndAsTheyShould)
{
    const NamedSession sessions[] = {
        {"JUMP_REQ answered 3020 ms late and the resend answered 5 ms after that", DLOAD_EMERGENCY,
         {Rule("jump late 3020"), Rule("jump@2 late 5")}, 0, 0, false, RunOutcome::Completed, 60'000},
        // Without the hang-up the erase would be watched for 500 s.
        {"unplugged during the erase ends the run promptly", DLOAD_CHANGE_EMERGENCY, {Rule("erase unplug")}, 2000, 0,
         false, RunOutcome::PortError, 10'000},
        {"the loader re-enumerates for 4 s after the jump and the run goes on", DLOAD_EMERGENCY,
         {Rule("jump reenumerate 4000")}, 0, 0, false, RunOutcome::Completed, 60'000},
        {"the AT command makes the handset re-enumerate for 12 s and the run goes on", DLOAD_NORMAL, {}, 0, 12'000,
         true, RunOutcome::Completed, 60'000},
    };
    for (const NamedSession& c : sessions) {
        SCOPED_TRACE(c.name);
        const Verdict verdict = PlaySchedule(SessionOf(c));
        EXPECT_TRUE(verdict.bPassed) << verdict.strReport;
        ASSERT_EQ(verdict.vecRuns.size(), 1u);
        EXPECT_EQ(verdict.vecRuns[0].eOutcome, c.eOutcome) << verdict.strTrace;
        EXPECT_LE(verdict.vecRuns[0].nEndMs - verdict.vecRuns[0].nStartMs, c.nEndsWithinMs);
    }
}

}  // namespace
}  // namespace kestrel::test
