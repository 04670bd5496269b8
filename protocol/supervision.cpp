// The one-shot timers that watch every request and block, and the clock of the erase.

#include "protocol/download_controller.h"
#include "protocol/run_limits.h"
#include "protocol/text_format.h"

namespace kestrel {

// An expiry that was held back while a handler ran is dropped if the timer has been
// stopped or armed again since: it belongs to a request that has been answered.
void CDownloadController::StartTimer(int id, int periodMs)
{
    const uint64_t arming = ++m_nArmings;
    m_anTimerArming[static_cast<std::size_t>(id)] = arming;
    m_scheduler.SetTimer(id, periodMs, [this, id, arming] {
        Deliver([this, id, arming] {
            if (m_anTimerArming[static_cast<std::size_t>(id)] != arming) return;
            m_anTimerArming[static_cast<std::size_t>(id)] = 0;
            if (id == kTimerSettle)
                OnSettled();
            else
                OnSupervisionTimer(id);
        });
    });
}

void CDownloadController::StopTimer(int id)
{
    m_anTimerArming[static_cast<std::size_t>(id)] = 0;
    m_scheduler.KillTimer(id);
}

void CDownloadController::ArmSupervision(int id, int periodMs)
{
    m_run.nTimerId = id;
    m_run.nTimerPeriod = periodMs;
    StartTimer(id, periodMs);
}

void CDownloadController::StopSupervision() { StopTimer(m_run.nTimerId); }

void CDownloadController::OnSupervisionTimer(int id)
{
    StopTimer(id);
    if (id == kTimerClock) {
        UpdateElapsedTime();
        UpdateEraseTime();
        StartTimer(kTimerClock, kClockTickMs);
        return;
    }
    ++m_run.byRetryCount;
    ++m_stats.nSupervisionExpiries;

    if (m_run.byRetryCount >= 3) {
        if (id == kTimerRequest) {
            m_run.byRetryCount = 0;
            FinishRun(RunOutcome::NoResponse, "응답이 없습니다.");
        } else {
            m_view.CaptureMouse(false);
            m_view.SetWaitCursor(false);
            if (m_settings.ReadNumber("KESTREL_SND_ERROR", 0) != 0) m_view.PlaySound("SND_ERROR");
            ShowMessage("응답없음. 처음부터 다시 해주시기 바랍니다. 지송..");
            FinishRun(RunOutcome::NoResponse);
        }
        return;
    }

    switch (m_run.eStep) {
    case RunStep::WaitEraseBoot:
    case RunStep::BootWrite:
    case RunStep::WaitFlash:
    case RunStep::FlashWrite:
    case RunStep::RangeEnd:
        WriteLogNow(kLogInfo, Format("No response, retry at 0x%x",
                                        m_run.BlockAddress(m_run.nBlockIndex - 1)));
        if (!CountRetransmission()) return;
        SendRetryRequest();
        ArmSupervision(m_run.nTimerId, m_run.nTimerPeriod);
        break;
    case RunStep::WaitReset:
        WriteLogNow(kLogInfo, "reset cmd에 대한 응답은 받지 못했지만 다운로드 종료");
        AdvanceRun();
        break;
    default:
        if (!CountRetransmission()) return;
        m_serial.ResendLastCommand();
        ArmSupervision(m_run.nTimerId, m_run.nTimerPeriod);
        break;
    }
}

}  // namespace kestrel
