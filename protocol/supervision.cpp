// The one-shot timers that watch every request and block, and the clock of the erase.

#include "protocol/download_controller.h"
#include "protocol/text_format.h"

namespace kestrel {

void CDownloadController::ArmSupervision(int id, int periodMs)
{
    m_run.nTimerId = id;
    m_run.nTimerPeriod = periodMs;
    m_scheduler.SetTimer(id, periodMs, [this, id] { Deliver([this, id] { OnSupervisionTimer(id); }); });
}

void CDownloadController::StopSupervision() { m_scheduler.KillTimer(m_run.nTimerId); }

void CDownloadController::OnSupervisionTimer(int id)
{
    m_scheduler.KillTimer(id);
    if (id == kTimerClock) {
        UpdateElapsedTime();
        UpdateEraseTime();
        m_scheduler.SetTimer(kTimerClock, 1000, [this] { Deliver([this] { OnSupervisionTimer(kTimerClock); }); });
        return;
    }
    ++m_run.byRetryCount;

    if (m_run.byRetryCount >= 3) {
        m_view.CaptureMouse(false);
        m_view.SetWaitCursor(false);
        if (id == kTimerRequest) {
            m_run.byRetryCount = 0;
            WriteLogNow(kColourRed, "응답이 없습니다.");
            ShowTransferEnd();
        } else {
            if (m_settings.ReadNumber("KESTREL_SND_ERROR", 0) != 0) m_view.PlaySound("SND_ERROR");
            ShowMessage("응답없음. 처음부터 다시 해주시기 바랍니다. 지송..");
        }
        m_view.OnRunEnded(RunOutcome::NoResponse);
        return;
    }

    switch (m_run.eStep) {
    case RunStep::WaitEraseBoot:
    case RunStep::BootWrite:
    case RunStep::WaitFlash:
    case RunStep::FlashWrite:
    case RunStep::RangeEnd:
        WriteLogNow(kColourBlue, Format("No response, retry at 0x%x",
                                        m_run.BlockAddress(m_run.nBlockIndex - 1)));
        SendRetryRequest();
        ArmSupervision(m_run.nTimerId, m_run.nTimerPeriod);
        break;
    case RunStep::WaitReset:
        WriteLogNow(kColourBlue, "reset cmd에 대한 응답은 받지 못했지만 다운로드 종료");
        AdvanceRun();
        break;
    default:
        m_serial.ResendLastCommand();
        ArmSupervision(m_run.nTimerId, m_run.nTimerPeriod);
        break;
    }
}

}  // namespace kestrel
