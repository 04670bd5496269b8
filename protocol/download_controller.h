#pragma once
// The download engine: the run record, the serial link, the log queue, the receive thread,
// both images and the run table, and every handler of a download run. It runs in one thread
// (the scheduler's) and reaches time only through the scheduler and the operator only
// through the view.

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "image/image_file.h"
#include "image/run_table.h"
#include "protocol/download_run.h"
#include "protocol/download_view.h"
#include "protocol/scheduler.h"
#include "protocol/settings_reader.h"
#include "serial/log_queue.h"
#include "serial/rx_owner.h"
#include "serial/serial_port.h"
#include "serial/thread_rx.h"

namespace kestrel {

class CDownloadController final : private IRxOwner {
public:
    CDownloadController(IScheduler& scheduler, IDownloadView& view, ISettingsReader& settings,
                        std::unique_ptr<IPortDevice> device = nullptr);
    ~CDownloadController() override;
    CDownloadController(const CDownloadController&) = delete;
    CDownloadController& operator=(const CDownloadController&) = delete;

    // What the operator selected; the front end keeps these current.
    void SetPort(int port) { m_nPort = port; }
    void SetBaudIndex(int index) { m_nBaud = index; }
    void SetDloadType(int type) { m_nDloadType = type; }
    int DloadType() const { return m_nDloadType; }
    void SetBanner(std::string banner) { m_strBanner = std::move(banner); }
    // Replaces the COM map, for a front end given a device path directly.
    void SetPortResolver(PortResolver resolver) { m_serial.SetPortResolver(std::move(resolver)); }

    CImageFile& NewImage() { return m_newImage; }
    CImageFile& OldImage() { return m_oldImage; }
    const CImageFile& NewImage() const { return m_newImage; }
    const CImageFile& OldImage() const { return m_oldImage; }
    const DownloadRun& Run() const { return m_run; }
    bool IsLinkUp() const { return m_bReceiveRun; }
    // A run has started and has not told the view how it ended.
    bool IsRunActive() const { return m_bRunActive; }
    // Of the run going on, or of the last one once it ended.
    const SRunStatistics& Statistics() const { return m_stats; }
    // The engine is inside one of its handlers, in a wait or a question: buttons must not
    // start anything.
    bool IsBusy() const { return m_nScopeDepth > 0; }
    // How the receive thread collects bursts; tests on a virtual clock set 0.
    void SetBurstPause(std::chrono::microseconds pause) { m_burstPause = pause; }

    // Buttons.
    void OnRun();
    void OnStop();
    void OnToDM();
    // The "C" button: compares the two images and logs the runs; refused during a run.
    void OnCompare();
    // The window closes: a run still going on ends as stopped.
    void OnClose();
    // A wait of this engine was cancelled and the work that waited has unwound: the run ends
    // as stopped, without waiting for anything and without another word to the handset.
    void OnWaitCancelled();

private:
    // Held while a handler of the engine runs. Replies, timers and link notices that arrive
    // meanwhile (in a wait or a question of the handler) are held back and run, in order,
    // once the outermost handler has returned.
    // A cancelled wait unwinds through scopes: held-back work is then never run, and the replay
    // may itself throw when a handler it runs has its wait cancelled.
    class CEngineScope {
    public:
        explicit CEngineScope(CDownloadController& engine)
            : m_engine(engine), m_nUnwinding(std::uncaught_exceptions())
        {
            ++m_engine.m_nScopeDepth;
        }
        ~CEngineScope() noexcept(false)
        {
            if (--m_engine.m_nScopeDepth == 0 && std::uncaught_exceptions() == m_nUnwinding) m_engine.ReplayDeferred();
        }
        CEngineScope(const CEngineScope&) = delete;
        CEngineScope& operator=(const CEngineScope&) = delete;

    private:
        CDownloadController& m_engine;
        const int m_nUnwinding;
    };

    // The receive thread parked for as long as the port is reopened; it goes on however the
    // reopen ends, a cancelled wait included.
    class CRxPause {
    public:
        explicit CRxPause(CThreadRX* pThread) : m_pThread(pThread), m_bParked(!pThread || pThread->Pause()) {}
        ~CRxPause()
        {
            if (m_pThread) m_pThread->Resume();
        }
        CRxPause(const CRxPause&) = delete;
        CRxPause& operator=(const CRxPause&) = delete;
        bool Parked() const { return m_bParked; }

    private:
        CThreadRX* m_pThread;
        const bool m_bParked;
    };

    // IRxOwner: called from the receive thread, handled in the scheduler's thread.
    void PostRxPacket(const SRxPacket& packet, uint64_t generation) override;
    void PostLogMessage() override;
    void PostRxThreadEnd(int linkId) override;
    void PostLinkFault(LinkFault fault, uint64_t generation) override;

    // Download control.
    void StartRun();
    bool PrepareRun();
    bool StartLink(bool awaitDevice);
    void ReportOpenFailure();
    bool EnsureLink(bool awaitDevice);
    bool BeginRunDisplay();
    bool RunModeSwitch();
    bool RunCompareStart();
    void OnLinkEnded(int linkId);
    void OnLinkFault(LinkFault fault, uint64_t generation);
    bool RefuseRun();
    bool AwaitReturningDevice();
    void RestartInLoader();
    // The one way a run ends: the link closed, nothing armed, the view told once.
    void FinishRun(RunOutcome outcome, const std::string& redLine = {});
    void TellRunEnded();
    // The first call of a run stamps the end of its work.
    void MarkWorkEnded()
    {
        if (m_stats.nEndMs < 0) m_stats.nEndMs = m_scheduler.NowMs();
    }
    void EndRun();
    // False when the port did not come back at the new rate.
    bool ChangeLineSpeed(uint32_t baudRate);

    // Response handling.
    void OnReplyReceived(const SRxPacket& packet, uint64_t generation);
    bool ClassifyReply(uint8_t code, uint8_t p1, uint8_t p2);
    bool Retransmit();
    bool CountRetransmission();
    void StallOnError(const char* redText);
    void OnSettled();

    // Download sequence: AdvanceRun goes on from the step the run waited in, one function a step.
    void AdvanceRun();
    void BeginJump();
    void BeginLoaderStart();
    void BeginErase();
    void BeginBootWrite();
    void ContinueBootWrite();
    void BeginFlashWrite();
    void ContinueFlashWrite();
    void EndRange();
    void SetRange(uint32_t baseOffset, uint32_t length);
    bool SendBlock();
    void SendNextBlock();
    void RequestFinalJump(int timerId, int periodMs);
    void SendRetryRequest();
    void BackupImage();
    void CompleteRun();

    // Supervision.
    void StartTimer(int id, int periodMs);
    void StopTimer(int id);
    void ArmSupervision(int id, int periodMs);
    void StopSupervision();
    void OnSupervisionTimer(int id);

    // Progress report.
    void WriteLogNow(int kind, const std::string& text);
    void MarkStepDone();
    void QueueLog(int kind, const std::string& text);
    void DrainLogQueue();
    void UpdateElapsedTime();
    void UpdateEraseTime();
    void UpdateEraseProgress();
    void UpdateAddressProgress();
    void ShowPercentBar();
    void ShowTransferEnd();
    void SetButtons(const SButtonState& state);
    void StepPercentage(int& memory);
    std::string MinutesSeconds(const char* label) const;

    void Wait(int milliseconds);
    void ShowMessage(const std::string& text, MessageIcon icon = MessageIcon::None);
    // Runs the handler now, or once the handler that is running has returned.
    void Deliver(std::function<void()> handler);
    void ReplayDeferred();

    IScheduler& m_scheduler;
    IDownloadView& m_view;
    ISettingsReader& m_settings;
    std::shared_ptr<bool> m_pAlive = std::make_shared<bool>(true);

    int m_nPort = 1;
    int m_nBaud = 1;
    int m_nDloadType = 0;
    std::string m_strBanner = "Kestrel";

    CLogQueue m_logQueue;
    CSerialPort m_serial;
    std::atomic<bool> m_bReceiveRun{false};
    std::atomic<int> m_nLinkId{0};
    std::unique_ptr<CThreadRX> m_pThreadRX;
    std::chrono::microseconds m_burstPause = CThreadRX::kBurstPause;

    DownloadRun m_run;
    SRunStatistics m_stats;
    bool m_bRunActive = false;
    std::optional<RunOutcome> m_optEnding;  // the run has ended; the view is told after EndRun
    bool m_bRetransmitPending = false;
    // Units on the wire when the last reply was accepted: more than one since then means a
    // resend, whose second answer may still be on its way.
    uint64_t m_nSentAtAccept = 0;
    bool m_bSettling = false;
    // From the jump's reply to the reply of the start request after it: the handset may drop
    // off the bus to come back in its loader.
    bool m_bAwaitingLoader = false;
    int m_nRetransmissions = 0;  // since the last accepted reply
    CImageFile m_newImage;
    CImageFile m_oldImage;
    CRunTable m_runTable;
    std::string m_strBackupName;

    // Percentages last shown; kept from run to run.
    int m_nErasePercentMemory = 0;
    int m_nAddressPercentMemory = 0;
    std::string m_strElapsed;
    SButtonState m_buttons = kButtonsAtStart;

    // The arming each timer id last had; an expiry of an earlier arming is stale.
    std::array<uint64_t, kTimerCount> m_anTimerArming{};
    uint64_t m_nArmings = 0;

    int m_nScopeDepth = 0;
    bool m_bReplaying = false;
    // A wait was cancelled: nothing waits or runs held back until the run has ended.
    bool m_bWaitCancelled = false;
    std::deque<std::function<void()>> m_deferred;
};

}  // namespace kestrel
