#pragma once
// The serial line in virtual time between the engine's port and the simulator's handset
// rules. What the tool writes reaches the handset at once, at the speed the port was opened
// with; the handset's answers come back after their delays, each as a burst of its own,
// shaped by a scenario as the simulator shapes them (erase time, late, split, garbage,
// unplug, re-enumeration). The receive thread is real: Settle() lets it take what was
// delivered before virtual time moves on, so a seed always plays the same way.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "protocol/scheduler.h"
#include "serial/port_device.h"
#include "sim/handset.h"
#include "sim/scenario.h"
#include "sim/transcript.h"

namespace kestrel::test {

struct LineOptions {
    bool bPace = false;                // ten bits a byte at the line speed, both ways
    unsigned nSwitchMs = 0;            // from the AT command to download mode
    bool bSwitchReenumerates = false;  // the device is gone meanwhile, as with --reenumerate
};

// What happens to the handset's answers.
struct LineFaults {
    sim::CScenario rules;
    // Rules whose occurrence is answered a second time; their "late MS" is the gap between
    // the two answers.
    sim::CScenario echoes;
    // Rules (as written) whose garbage arrives as a burst of its own, not in front of the reply.
    std::set<std::string> ownBurstGarbage;
};

class CVirtualLine final : public IPortDevice {
public:
    // Timer ids on the scheduler, clear of the engine's.
    static constexpr int kDeliveryTimer = 1000;
    static constexpr int kQuietTimer = 1001;

    CVirtualLine(IScheduler& scheduler, sim::CHandset& handset, sim::CTranscript& transcript, LineFaults faults,
                 const LineOptions& options);
    ~CVirtualLine() override;
    CVirtualLine(const CVirtualLine&) = delete;
    CVirtualLine& operator=(const CVirtualLine&) = delete;

    // True while a receive thread is meant to read the port: a write first waits until it
    // reads, so that what it takes next is taken at a moment fixed in virtual time.
    void SetReaderExpected(std::function<bool()> expected) { m_readerExpected = std::move(expected); }
    // The handset unplugged and plugged in again, its flash kept: it is there, fresh in the
    // given mode, and nothing it still meant to send will come.
    void Replug(bool downloadMode);
    // Blocks (in real time) until the receive thread has read all that was delivered and
    // waits again, or is parked for a speed change, or the port is closed.
    void Settle();
    bool IsOpen();
    // Why the receive thread could not be kept in step with virtual time; empty when it was.
    const std::string& StepFault() const { return m_strStepFault; }

    PortOpenError Open(const std::string& path, const SLineSettings& settings) override;
    void Close() override;
    bool Write(const uint8_t* data, std::size_t length, int deadlineMs) override;
    std::size_t Read(uint8_t* buffer, std::size_t length) override;
    PortWait WaitForInput() override;
    void Interrupt() override;

private:
    struct Pending {
        enum class EKind { Write, SwitchMode, Unplug, Reappear };
        // What the handset is when its device reappears.
        enum class EBack { PoweredUp, DownloadMode, SameStage };
        EKind eKind;
        int64_t nDueUs;
        std::vector<uint8_t> vecBytes;       // Write
        std::optional<sim::CJsonLine> optTx; // Write: the transcript line, bytes added when sent
        std::optional<unsigned> optReappearMs;  // Unplug
        EBack eBack = EBack::PoweredUp;
    };

    int64_t NowUs() const { return m_scheduler.NowMs() * 1000; }
    int64_t LineTimeUs(std::size_t bytes, uint32_t baud) const;
    void QueueAnswers(const std::vector<sim::SAnswer>& answers);
    int64_t EnqueueReply(const std::array<uint8_t, 3>& reply, const sim::SReplyPlan& plan, std::vector<uint8_t> garbage,
                         const sim::SReplyPlan& echo, int64_t t);
    int64_t Enqueue(Pending pending);
    void ArmDelivery();
    void OnDeliveryTimer();
    void Execute(Pending& pending);
    void ArmQuiet();
    void OnQuietTimer();
    int64_t FreeAtUs() const;
    bool Deliver(const std::vector<uint8_t>& bytes);
    void Vanish();
    void AwaitReader();

    IScheduler& m_scheduler;
    sim::CHandset& m_handset;
    sim::CTranscript& m_transcript;
    LineFaults m_faults;
    LineOptions m_options;
    std::function<bool()> m_readerExpected;
    std::string m_strStepFault;

    // The handset's side: only the engine's thread touches it.
    std::deque<Pending> m_queue;
    int64_t m_nBusyUntilUs = 0;
    int64_t m_nInFreeUs = 0;   // paced: when the bytes written so far have all arrived
    int64_t m_nLastRxUs = 0;
    uint32_t m_dwLastBaud = 0;
    bool m_bLeaving = false;   // an unplug is on its way: the handset reads nothing more

    // The port's side, shared with the receive thread.
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bPresent = true;    // the device exists
    bool m_bOpen = false;
    bool m_bDead = false;      // this opening lost its device
    bool m_bHangUpReported = false;
    bool m_bInterrupt = false;
    uint32_t m_dwBaud = 0;
    std::deque<uint8_t> m_input;
    // The receive thread reads this opening: it has come to wait on it and was not sent
    // away to park since.
    bool m_bAttending = false;
    bool m_bWaiting = false;
    uint64_t m_nEvents = 0;    // input deliveries and the loss of the device
    uint64_t m_nSeen = 0;      // events that had been taken when the thread last waited
};

}  // namespace kestrel::test
