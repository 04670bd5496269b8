// What the Run, Stop, ToDM and "C" buttons do, the link they share and the one end of a run.

#include <utility>

#include "image/download_type.h"
#include "image/image_compare.h"
#include "protocol/download_controller.h"
#include "protocol/run_limits.h"
#include "protocol/text_format.h"

namespace kestrel {
namespace {

constexpr uint32_t kDefaultFontAddress = 0xE00000;
constexpr uint32_t kModeSwitchBaud = 57600;

bool UsesModeSwitch(int type)
{
    return type == DLOAD_NORMAL || type == DLOAD_FONT_NORMAL || type == DLOAD_CHANGE_NORMAL;
}

}  // namespace

void CDownloadController::OnRun()
{
    if (IsBusy() || m_bRunActive) return;
    CEngineScope scope(*this);
    m_bRunActive = true;
    m_stats = SRunStatistics{};
    m_stats.nStartMs = m_scheduler.NowMs();
    m_view.OnRunStarted();
    StartRun();
}

void CDownloadController::StartRun()
{
    if (m_nDloadType < 0 || m_nDloadType >= kDownloadTypeCount) {
        ShowMessage("Select a download type first.");
        FinishRun(RunOutcome::Refused);
        return;
    }
    if (!IsFontType(m_nDloadType) && !IsChangeType(m_nDloadType) && !m_newImage.IsLoaded()) {
        ShowMessage("First, Select right bin file");
        FinishRun(RunOutcome::Refused);
        return;
    }
    if (!PrepareRun()) {
        FinishRun(RunOutcome::Refused);
        return;
    }
    if (RefuseRun()) return;

    if (UsesModeSwitch(m_nDloadType)) {
        if (!RunModeSwitch()) return;
        if (!EnsureLink(true) || !BeginRunDisplay()) return;
    } else {
        if (!EnsureLink(false) || !BeginRunDisplay()) return;
        m_strElapsed.clear();
        m_view.SetDisplayText(DisplayText::Elapsed, m_strElapsed);
        m_run.byRetryCount = 0;
        if (m_nDloadType == DLOAD_COMPARE_EMERGENCY && !RunCompareStart()) return;
        WriteLogNow(kLogInfo, "- Emergency Download");
    }
    m_run.eStep = RunStep::WaitStart;
    m_nSentAtAccept = m_serial.SentUnits();
    m_nRetransmissions = 0;
    m_serial.RequestDownloadStart();
    ArmSupervision(kTimerRequest, kReplySupervisionMs);
}

// Refuses, with a message, a run that could only fail once started; otherwise the image
// stays open for the run.
bool CDownloadController::RefuseRun()
{
    std::string reason;
    if (m_newImage.IsLoaded() && !m_newImage.OpenForRun())
        reason = m_newImage.LastError();
    else if (m_newImage.Size() <= 0)
        reason = "The bin file is empty: there is nothing to download.";
    if (reason.empty()) return false;
    ShowMessage(reason, MessageIcon::Information);
    FinishRun(RunOutcome::Refused);
    return true;
}

void CDownloadController::FinishRun(RunOutcome outcome, const std::string& redLine)
{
    if (!redLine.empty()) WriteLogNow(kLogError, redLine);
    if (!m_bRunActive) return;
    m_bRunActive = false;
    MarkWorkEnded();
    m_optEnding = outcome;
    // A refused run never started anything: the window stays as it was.
    if (outcome != RunOutcome::Refused) EndRun();
    TellRunEnded();
}

// Apart from FinishRun, so that a run whose ending wait was cancelled is still told once.
void CDownloadController::TellRunEnded()
{
    if (!m_optEnding) return;
    const RunOutcome outcome = *std::exchange(m_optEnding, std::nullopt);
    m_newImage.Close();
    m_view.CaptureMouse(false);
    m_view.SetWaitCursor(false);
    m_view.OnRunEnded(outcome);
}

// The NORMAL types first put the handset into its download mode with the AT command.
bool CDownloadController::RunModeSwitch()
{
    m_serial.SetPortNumber(static_cast<uint8_t>(m_nPort));
    m_serial.CloseAll();
    Wait(kPortReleaseWaitMs);
    m_serial.PrepareEvents(this, &m_logQueue);
    if (!m_serial.OpenPort()) {
        m_serial.CloseAll();
        ReportOpenFailure();
        FinishRun(RunOutcome::PortError);
        return false;
    }
    WriteLogNow(kLogInfo, "- Normal Download");
    WriteLogNow(kLogStatus, "Download 모드 진입 요청...Wait");
    m_logQueue.Clear();
    m_view.ClearLog();

    Wait(kModeSwitchSettleMs);
    m_run.bModeSwitch = true;
    m_serial.SendModeSwitchCommand();
    m_serial.CloseAll();
    Wait(kModeSwitchRestartMs);
    m_run.bModeSwitch = false;

    m_strElapsed.clear();
    m_view.SetDisplayText(DisplayText::Elapsed, m_strElapsed);
    m_run.byRetryCount = 0;
    MarkStepDone();
    Wait(kModeSwitchReadyMs);
    return true;
}

bool CDownloadController::RunCompareStart()
{
    std::string error;
    const CompareStatus status = CompareImages(
        m_newImage, m_oldImage, m_runTable, [this](int kind, std::string_view text) { QueueLog(kind, std::string(text)); },
        error);
    if (status != CompareStatus::kCompared) {
        FinishRun(RunOutcome::FileError,
                  status == CompareStatus::kNotRun ? "Select the old bin file to compare with." : "");
        return false;
    }
    if (m_runTable.Run(0).nBlockCount == 0) {
        QueueLog(kLogError, "\nTwo Files are same!");
        QueueLog(kLogProgress, "Download End.\n");
        FinishRun(RunOutcome::NothingToDo);
        return false;
    }
    PrepareRun();
    // The comparison read the image on its own; the run goes on with the file it compared.
    if (!m_newImage.OpenForRun()) {
        FinishRun(RunOutcome::FileError, m_newImage.LastError());
        return false;
    }
    return true;
}

bool CDownloadController::PrepareRun()
{
    const auto size = static_cast<uint32_t>(m_newImage.Size());
    if (IsFontType(m_nDloadType)) {
        uint32_t address = kDefaultFontAddress;
        if (!m_view.AskFontAddress(address)) {
            SButtonState buttons = m_buttons;
            buttons.bRun = true;
            SetButtons(buttons);
            return false;
        }
        m_run.dwEraseStart = address;
        m_run.dwBaseOffset = 0;
        m_run.dwLength = size;
    } else if (IsChangeType(m_nDloadType)) {
        m_run.dwBaseOffset = m_run.dwEraseStart = 0;
        m_run.dwLength = size;
    } else if (m_nDloadType == DLOAD_COMPARE_EMERGENCY) {
        m_runTable.SetCurrentRun(0);
        SetRange(static_cast<uint32_t>(m_runTable.Run(0).nStartBlock) * kCompareBlockSize,
                 static_cast<uint32_t>(m_runTable.Run(0).nBlockCount) * kCompareBlockSize);
    } else if (m_nDloadType == DLOAD_NORMAL || m_nDloadType == DLOAD_EMERGENCY) {
        m_run.dwBaseOffset = m_run.dwEraseStart = m_newImage.BaseOffset();
        m_run.dwLength = size - m_newImage.BaseOffset();
    } else {
        return true;
    }
    m_run.eStep = RunStep::Idle;
    return true;
}

// awaitDevice: the handset may just have dropped off the bus to come back in its loader.
bool CDownloadController::StartLink(bool awaitDevice)
{
    m_serial.SetPortNumber(static_cast<uint8_t>(m_nPort));
    m_serial.CloseAll();
    m_serial.PrepareEvents(this, &m_logQueue);
    if (!m_serial.OpenPort() && !(awaitDevice && AwaitReturningDevice())) {
        ReportOpenFailure();
        m_serial.CloseAll();
        FinishRun(RunOutcome::PortError);
        return false;
    }
    m_bReceiveRun = true;
    if (m_pThreadRX) {
        ShowMessage("Can't start Tidewell\n");
        m_serial.CloseAll();
        FinishRun(RunOutcome::PortError);
        return false;
    }
    m_pThreadRX = std::make_unique<CThreadRX>(++m_nLinkId, m_bReceiveRun, m_burstPause);
    m_pThreadRX->Start(this, &m_serial, &m_logQueue);
    m_view.EnableTypeSelector(false);
    return true;
}

// Looks for the device again for a bounded time; true once it opened.
bool CDownloadController::AwaitReturningDevice()
{
    if (m_serial.LastOpenError() != PortOpenError::NotFound) return false;
    WriteLogNow(kLogInfo, Format("Waiting up to %d s for the handset to come back on %s", kReenumerationWaitMs / 1000,
                                    m_serial.LastDevicePath().c_str()));
    for (int waited = 0; waited < kReenumerationWaitMs; waited += kReenumerationPollMs) {
        Wait(kReenumerationPollMs);
        if (m_serial.OpenPort()) return true;
        if (m_serial.LastOpenError() != PortOpenError::NotFound) return false;
    }
    return false;
}

// The start request after the jump went to a handset that has just left the bus: the port
// is opened again once it is back and the request sent again.
void CDownloadController::RestartInLoader()
{
    m_bAwaitingLoader = false;
    StopSupervision();
    bool back = false;
    {
        const CRxPause pause(m_pThreadRX.get());
        m_serial.ClosePort();
        m_serial.OpenPort();
        back = m_serial.IsOpen() || AwaitReturningDevice();
    }
    if (!back) {
        ReportOpenFailure();
        FinishRun(RunOutcome::PortError);
        return;
    }
    Wait(kReopenSettleMs);
    m_nSentAtAccept = m_serial.SentUnits();
    m_serial.ResendLastCommand();
    ArmSupervision(kTimerRequest, kReplySupervisionMs);
}

// The operator's line, then why and on which device.
void CDownloadController::ReportOpenFailure()
{
    WriteLogNow(kLogInfo, "USB 연결 상태를 확인하세요.");
    WriteLogNow(kLogError, DescribeOpenFailure(m_serial.LastOpenError(), m_serial.LastDevicePath()));
}

bool CDownloadController::EnsureLink(bool awaitDevice)
{
    if (m_serial.IsOpen()) return true;
    EndRun();
    return StartLink(awaitDevice);
}

bool CDownloadController::BeginRunDisplay()
{
    m_run.nBlockIndex = 0;
    m_run.byRetryCount = 0;
    m_bRetransmitPending = false;
    m_logQueue.Clear();
    SetButtons(kButtonsRunning);
    m_view.ClearLog();
    if (!ChangeLineSpeed(kModeSwitchBaud)) return false;
    m_run.nStartTimeMs = m_scheduler.NowMs();
    return true;
}

void CDownloadController::OnStop()
{
    if (IsBusy()) return;
    CEngineScope scope(*this);
    if (m_run.eStep == RunStep::WaitFlash || (m_run.eStep == RunStep::FlashWrite && m_run.nBlockIndex <= 64)) {
        WriteLogNow(kLogError, "can't stop downloading");
        return;
    }
    // The link is not restarted: it would only be stopped again by the end notice of the
    // thread just stopped, and the next Run opens it anyway.
    EndRun();
    WriteLogNow(kLogInfo, "Tidewell stopped!!");
    FinishRun(RunOutcome::Stopped);
}

void CDownloadController::OnToDM()
{
    if (IsBusy()) return;
    CEngineScope scope(*this);
    StopSupervision();
    WriteLogNow(kLogInfo, "단말기를 DM 상태로 바꿈");
    SetButtons(kButtonsAfterToDm);
    m_serial.SendModeSwitchCommand();
}

void CDownloadController::OnClose()
{
    if (IsBusy()) return;
    CEngineScope scope(*this);
    if (m_bRunActive)
        FinishRun(RunOutcome::Stopped);
    else
        EndRun();
}

void CDownloadController::OnWaitCancelled()
{
    {
        CEngineScope scope(*this);
        m_bWaitCancelled = true;
        m_run.bModeSwitch = false;
        if (m_bRunActive) {
            FinishRun(RunOutcome::Stopped);
        } else {
            EndRun();
            TellRunEnded();
        }
    }
    m_bWaitCancelled = false;
}

void CDownloadController::OnLinkEnded(int linkId)
{
    // The end of an earlier link only tidies the window; it must not end a later one. The
    // current link ending under a run ends the run: nothing can answer it any more.
    if (linkId == m_nLinkId) {
        if (m_bRunActive)
            FinishRun(RunOutcome::PortError, "The link to the handset ended: download stopped.");
        else
            EndRun();
    }
    m_view.CaptureMouse(false);
    m_view.SetWaitCursor(false);
    m_view.EnableTypeSelector(true);
    m_view.SetTitle(m_strBanner);
}

void CDownloadController::OnLinkFault(LinkFault fault, uint64_t generation)
{
    if (!m_bRunActive || !m_serial.IsOpen() || generation != m_serial.Generation()) return;
    // The handset left to come back in its loader, on a line whose speed did not change.
    if (fault == LinkFault::HangUp && m_bAwaitingLoader) {
        RestartInLoader();
        return;
    }
    const std::string device = m_serial.LastDevicePath();
    FinishRun(RunOutcome::PortError, fault == LinkFault::HangUp
                                         ? "The handset left " + device + ": download stopped."
                                         : "Writing to " + device + " failed: download stopped.");
}

void CDownloadController::OnCompare()
{
    // Rebuilding the run table under a COMPARE run would leave its ranges unwritten.
    if (IsBusy() || m_bRunActive) return;
    CEngineScope scope(*this);
    std::string error;
    CompareImages(m_newImage, m_oldImage, m_runTable,
                  [this](int kind, std::string_view text) { QueueLog(kind, std::string(text)); }, error);
}

}  // namespace kestrel
