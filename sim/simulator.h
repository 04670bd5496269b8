#pragma once
// The handset on its pseudo-terminal: reads what the tool sends, lets the handset rules
// answer, applies the scenario's faults and the timing (erase time, pacing, delays), and at
// the end writes the flash dump and a one-line summary.

#include <array>
#include <chrono>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "flash_model.h"
#include "handset.h"
#include "pty_line.h"
#include "scenario.h"
#include "sim_options.h"
#include "slave_link.h"
#include "transcript.h"

namespace kestrel::sim {

class CSimulator {
public:
    // A burst shorter than a block is judged once the line has been quiet this long.
    static constexpr std::chrono::milliseconds kQuiet{50};
    // A write the tool does not take within this time is given up.
    static constexpr int kWriteDeadlineMs = 1000;
    // A re-enumerating handset hangs up this long after its reply has gone out, so that the
    // tool has read the reply before the line goes.
    static constexpr std::chrono::milliseconds kReenumerateGap{20};

    // SIGTERM, SIGINT and SIGHUP must already be blocked; `signalFd` reports them.
    CSimulator(const SSimOptions& options, CScenario scenario, CTranscript& transcript, int signalFd, std::FILE* out);

    // Runs until a signal, the idle timeout or a final unplug; returns the exit code.
    int Run();

private:
    using Clock = std::chrono::steady_clock;
    struct SPending {
        enum class EKind { Write, SwitchMode, Unplug, Reappear };
        // What the handset is when its line reappears.
        enum class EBack { PoweredUp, DownloadMode, SameStage };
        EKind eKind;
        Clock::time_point tDue;
        std::vector<uint8_t> vecBytes;       // Write
        std::optional<CJsonLine> optTxLine;  // Write: the transcript line, bytes added when sent
        std::optional<unsigned> optReappearMs;  // Unplug
        EBack eBack = EBack::PoweredUp;      // Unplug, Reappear
    };

    bool CreateLine();
    void ReadLine();
    void Schedule(const std::vector<SAnswer>& answers, Clock::time_point now);
    // Queues the reply as the plan changes it, from `t` on; returns when its last byte goes.
    Clock::time_point EnqueueReply(const std::array<uint8_t, 3>& reply, const SReplyPlan& plan, Clock::time_point t);
    Clock::time_point Enqueue(SPending pending);
    void Execute(SPending& pending);
    Clock::duration LineTime(std::size_t bytes, uint32_t baud) const;
    int Finish();

    const SSimOptions& m_opts;
    CScenario m_scenario;
    CTranscript& m_transcript;
    int m_nSignalFd;
    std::FILE* m_pOut;
    CFlashModel m_flash;
    CHandset m_handset;
    CPtyLine m_line;
    std::optional<CSlaveLink> m_optLink;
    std::optional<CSlaveLink> m_optSlotLink;  // --slot-link
    std::deque<SPending> m_queue;
    Clock::time_point m_tBusyUntil{};
    Clock::time_point m_tInFree{};       // --pace: when the bytes read so far have fully arrived
    Clock::time_point m_tLastRx{};
    Clock::time_point m_tLastTraffic{};
    uint32_t m_dwLastBaud = 0;
    uint64_t m_nInjected = 0;
    std::optional<std::string> m_optStop;  // why the simulator ends
    bool m_bFailed = false;
};

}  // namespace kestrel::sim
