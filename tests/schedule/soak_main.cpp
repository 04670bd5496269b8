// kestrel-schedule-soak: plays schedules from a fresh random seed until the count is reached
// or one fails, or replays the schedule of one seed.
//
//   kestrel-schedule-soak --count N [--seed S]   N schedules of the series from S (random
//                                                when not given); stops at the first failure
//   kestrel-schedule-soak --replay SEED          the schedule of that seed, all that happened
//                                                in it and its verdict
//
// Exit code: 0 all passed, 1 a schedule failed, 2 bad command line.

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "schedule_runner.h"

namespace {

using namespace kestrel::test;
using Clock = std::chrono::steady_clock;

// A schedule that plays this long in real time is stuck: say which one.
constexpr auto kStuckAfter = std::chrono::seconds(60);

std::optional<uint64_t> ParseNumber(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0') return std::nullopt;
    return value;
}

int Usage()
{
    std::fprintf(stderr, "usage: kestrel-schedule-soak --count N [--seed S] | --replay SEED\n");
    return 2;
}

// Tells on stderr which seed has been playing for too long, so a hang can be replayed.
class CWatchdog {
public:
    CWatchdog() : m_thread([this] { Watch(); }) {}
    ~CWatchdog()
    {
        {
            std::lock_guard g(m_lock);
            m_bDone = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    void Playing(uint64_t seed)
    {
        std::lock_guard g(m_lock);
        m_nSeed = seed;
        m_tStart = Clock::now();
        m_bWarned = false;
    }

private:
    void Watch()
    {
        std::unique_lock g(m_lock);
        while (!m_changed.wait_for(g, std::chrono::seconds(1), [this] { return m_bDone; })) {
            if (m_bWarned || Clock::now() - m_tStart < kStuckAfter) continue;
            m_bWarned = true;
            std::fprintf(stderr, "seed %s has been playing for over a minute\n", Hex64(m_nSeed).c_str());
        }
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    uint64_t m_nSeed = 0;
    Clock::time_point m_tStart = Clock::now();
    bool m_bWarned = true;
    bool m_bDone = false;
    std::thread m_thread;  // last: starts once the rest exists
};

int Replay(uint64_t seed)
{
    const Schedule schedule = GenerateSchedule(seed);
    std::printf("%s\n", schedule.Describe().c_str());
    const Verdict verdict = PlaySchedule(schedule);
    std::printf("\n%s", verdict.strTrace.c_str());
    if (!verdict.bPassed) {
        std::printf("\nFAILED\n%s", verdict.strReport.c_str());
        return 1;
    }
    std::printf("\npassed:");
    for (const RunRecord& run : verdict.vecRuns)
        std::printf(" run %lld-%lld ms", static_cast<long long>(run.nStartMs), static_cast<long long>(run.nEndMs));
    std::printf("\n");
    return 0;
}

int Soak(uint64_t count, uint64_t base)
{
    std::printf("series seed %s, %llu schedules\n", Hex64(base).c_str(), static_cast<unsigned long long>(count));
    std::fflush(stdout);
    CWatchdog watchdog;
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t seed = SeriesSeed(base, i);
        watchdog.Playing(seed);
        const Verdict verdict = PlaySchedule(GenerateSchedule(seed));
        if (!verdict.bPassed) {
            std::printf("schedule %llu of the series failed, seed %s\n%s", static_cast<unsigned long long>(i),
                        Hex64(seed).c_str(), verdict.strReport.c_str());
            return 1;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%llu schedules passed in %.1f s (%.1f per second)\n", static_cast<unsigned long long>(count), seconds,
                seconds > 0 ? static_cast<double>(count) / seconds : 0.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::optional<uint64_t> count;
    std::optional<uint64_t> seed;
    std::optional<uint64_t> replay;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::optional<uint64_t>* target = arg == "--count"    ? &count
                                          : arg == "--seed"   ? &seed
                                          : arg == "--replay" ? &replay
                                                              : nullptr;
        if (target == nullptr || i + 1 >= argc) return Usage();
        *target = ParseNumber(argv[++i]);
        if (!*target) return Usage();
    }
    if (replay) return count || seed ? Usage() : Replay(*replay);
    if (!count) return Usage();
    std::random_device random;
    return Soak(*count, seed.value_or(uint64_t{random()} << 32 | random()));
}
