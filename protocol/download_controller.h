#pragma once
// The download engine: the run record, the serial link, the log queue, the receive thread,
// both images and the run table, and every handler of a download run. It runs in one thread
// (the scheduler's) and reaches time only through the scheduler and the operator only
// through the view.

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
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
    const DownloadRun& Run() const { return m_run; }
    bool IsLinkUp() const { return m_bReceiveRun; }
    // A wait or a modal question of the engine is open: buttons must not start anything.
    bool IsBusy() const { return m_nModalDepth > 0; }

    // Buttons.
    void OnRun();
    void OnStop();
    void OnToDM();
    // The operator is about to choose another image: a stalled run must not write it.
    void EndStalledRun();
    // The "C" button: compares the two images and logs the runs.
    void OnCompare();

    void EndRun();
    void ChangeLineSpeed(uint32_t baudRate);

private:
    // Open while the engine waits or asks: replies, timers and link ends of the run are held
    // back and handled, in order, once it is closed again.
    class CModalScope {
    public:
        explicit CModalScope(CDownloadController& engine) : m_engine(engine) { ++m_engine.m_nModalDepth; }
        ~CModalScope()
        {
            if (--m_engine.m_nModalDepth == 0) m_engine.ReplayDeferred();
        }
        CModalScope(const CModalScope&) = delete;
        CModalScope& operator=(const CModalScope&) = delete;

    private:
        CDownloadController& m_engine;
    };

    // IRxOwner: called from the receive thread, handled in the scheduler's thread.
    void PostRxPacket(const RxPacket& packet) override;
    void PostLogMessage() override;
    void PostRxThreadEnd(int linkId) override;

    // Download control.
    bool PrepareRun();
    bool StartLink();
    void ReportOpenFailure();
    bool EnsureLink();
    void BeginRunDisplay();
    bool RunModeSwitch();
    bool RunCompareStart();
    void OnLinkEnded(int linkId);
    bool RefuseRun();

    // Response handling.
    void OnReplyReceived(const RxPacket& packet, int linkId);
    bool ClassifyReply(uint8_t code, uint8_t p1, uint8_t p2);
    void Retransmit();
    void StallOnError(const char* redText);

    // Download sequence.
    void AdvanceRun();
    void SetRange(uint32_t baseOffset, uint32_t length);
    bool SendBlock();
    void SendNextBlock();
    void RequestFinalJump(int timerId, int periodMs);
    void SendRetryRequest();
    void BackupImage();
    void CompleteRun();

    // Supervision.
    void ArmSupervision(int id, int periodMs);
    void StopSupervision();
    void OnSupervisionTimer(int id);

    // Progress report.
    void WriteLogNow(uint32_t colour, const std::string& text);
    void MarkStepDone();
    void QueueLog(int kind, const std::string& text);
    void DrainLogQueue();
    void UpdateElapsedTime();
    void UpdateEraseTime();
    void UpdateEraseProgress();
    void UpdateAddressProgress();
    void ShowPercentBar();
    void ShowTransferEnd();
    void SetButtons(bool open, bool run, bool toDm, bool info, bool stop);
    void StepPercentage(int& memory);
    std::string MinutesSeconds(const char* label) const;

    void Wait(int milliseconds);
    void ShowMessage(const std::string& text);
    // Runs the handler now, or after the wait or question that is open.
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

    DownloadRun m_run;
    bool m_bRetransmitPending = false;
    CImageFile m_newImage;
    CImageFile m_oldImage;
    CRunTable m_runTable;
    std::string m_strBackupName;

    // Percentages last shown; kept from run to run.
    int m_nErasePercentMemory = 0;
    int m_nAddressPercentMemory = 0;
    std::string m_strElapsed;
    bool m_abButtons[5] = {true, false, true, true, false};

    int m_nModalDepth = 0;
    std::deque<std::function<void()>> m_deferred;
};

}  // namespace kestrel
