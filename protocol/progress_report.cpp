// What a run shows: log lines of their kind, check marks, the percentage, the address and times.

#include <cmath>

#include "protocol/download_controller.h"
#include "protocol/text_format.h"

namespace kestrel {

void CDownloadController::WriteLogNow(int kind, const std::string& text)
{
    if (kind == kLogError) m_stats.strLastRedLine = text;
    m_view.WriteLog(kind, text);
}

void CDownloadController::MarkStepDone() { m_view.MarkStepDone(); }

void CDownloadController::QueueLog(int kind, const std::string& text)
{
    if (m_logQueue.Push(kind, text)) PostLogMessage();
}

void CDownloadController::DrainLogQueue()
{
    CLogEntry entry;
    if (!m_logQueue.Pop(entry)) return;
    WriteLogNow(entry.nKind, entry.strText);
}

std::string CDownloadController::MinutesSeconds(const char* label) const
{
    const int64_t elapsed = m_scheduler.NowMs() - m_run.nStartTimeMs;
    const auto seconds = static_cast<int>(elapsed / 1000);
    return Format("%s : %d min %d sec", label, seconds / 60, seconds % 60);
}

void CDownloadController::UpdateElapsedTime()
{
    m_strElapsed = MinutesSeconds("Elapsed time");
    m_view.SetDisplayText(DisplayText::Elapsed, m_strElapsed);
}

void CDownloadController::UpdateEraseTime() { m_view.SetDisplayText(DisplayText::EraseTime, MinutesSeconds("Erase time")); }

void CDownloadController::StepPercentage(int& memory)
{
    // An empty range has nothing left to send.
    const int percent = m_run.nTotalBlocks <= 0
                            ? 100
                            : static_cast<int>(std::trunc(static_cast<double>(m_run.nBlockIndex) /
                                                          static_cast<double>(m_run.nTotalBlocks) * 100.0));
    if (percent != memory || percent == 0) {
        m_view.SetPercent(percent);
        m_view.SetTitle(Format("%d%% Completed. - Kestrel", percent));
        memory = percent;
    }
}

void CDownloadController::UpdateEraseProgress()
{
    StepPercentage(m_nErasePercentMemory);
    m_view.SetDisplayText(DisplayText::EraseInfo, Format("Erase_Len=0x%x PktCnt=%d TotPkt=%d", m_run.dwLength,
                                                          m_run.nBlockIndex, m_run.nTotalBlocks));
}

void CDownloadController::UpdateAddressProgress()
{
    StepPercentage(m_nAddressPercentMemory);
    m_view.SetDisplayText(DisplayText::AddrInfo,
                          Format("BaseAddr=0x%x: Addr = 0x%x", m_run.dwBaseOffset,
                                 m_run.BlockAddress(m_run.nBlockIndex)));
}

void CDownloadController::ShowPercentBar()
{
    m_view.ShowPercentBar();
    m_view.SetDisplayText(DisplayText::AddrInfo, "");
    m_view.SetDisplayText(DisplayText::EraseInfo, "");
}

void CDownloadController::ShowTransferEnd()
{
    m_view.ShowIdleBar();
    SetButtons(kButtonsIdle);
}

void CDownloadController::SetButtons(const SButtonState& state)
{
    m_buttons = state;
    m_view.SetButtons(state);
}

}  // namespace kestrel
