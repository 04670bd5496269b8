// Ending a run and changing the line speed under a running receive thread.

#include "protocol/download_controller.h"
#include "protocol/run_limits.h"

namespace kestrel {

void CDownloadController::EndRun()
{
    StopSupervision();
    StopTimer(kTimerClock);
    StopTimer(kTimerSettle);
    m_bSettling = false;
    m_bAwaitingLoader = false;
    m_run.eStep = RunStep::Idle;
    SetButtons(kButtonsIdle);
    if (m_bReceiveRun) {
        m_bReceiveRun = false;
        m_serial.CloseAll();
        Wait(kLinkCloseWaitMs);
    } else {
        // The mode switch holds the port without a link.
        m_serial.CloseAll();
    }
    // Also after a cancelled wait above, whose thread was told to end but not yet gone.
    if (m_pThreadRX) {
        // Closing the port woke the thread; it ends at once.
        while (!m_pThreadRX->WaitUntilEnded(kThreadEndWaitMs)) m_serial.InterruptWait();
        m_pThreadRX.reset();
        Wait(kThreadEndNoticeMs);
    }
    m_view.SetDisplayText(DisplayText::AddrInfo, "");
    m_strElapsed.clear();
    m_view.SetDisplayText(DisplayText::Elapsed, m_strElapsed);
    ShowTransferEnd();
}

// On failure the run has ended, with the reason in the log.
bool CDownloadController::ChangeLineSpeed(uint32_t baudRate)
{
    if (m_serial.BaudRate() == baudRate) return true;
    bool parked = false;
    bool reopened = false;
    {
        const CRxPause pause(m_pThreadRX.get());
        parked = pause.Parked();
        if (parked) {
            reopened = m_serial.ChangeBaudRate(baudRate);
            if (!reopened && AwaitReturningDevice()) {
                Wait(kReopenSettleMs);
                reopened = true;
            }
        }
    }
    if (!parked) {
        FinishRun(RunOutcome::PortError, "The port could not be set to a new speed: its reader did not let go.");
        return false;
    }
    if (!reopened) {
        ReportOpenFailure();
        FinishRun(RunOutcome::PortError);
    }
    return reopened;
}

}  // namespace kestrel
