#include "terminal_view.h"

#include <cstdio>

#include "serial/log_queue.h"

namespace kestrel {

CTerminalView::CTerminalView(CCliOutput& out, bool progressLine, std::function<int64_t()> clock)
    : m_out(out), m_bProgressLine(progressLine), m_clock(std::move(clock))
{
}

void CTerminalView::EndProgressLine()
{
    if (!m_bProgressShown) return;
    m_out.Status("\n");
    m_bProgressShown = false;
}

void CTerminalView::EndCheckMarkLine()
{
    if (!m_bCheckMarkOpen) return;
    m_out.Text("");
    m_bCheckMarkOpen = false;
}

void CTerminalView::OnPortLog(int, int kind, const std::string& text)
{
    EndProgressLine();
    m_out.Log(kind, text);
    m_bCheckMarkOpen = false;
}

void CTerminalView::OnPortCheckMark(int)
{
    EndProgressLine();
    if (m_out.Json())
        m_out.Object(CJsonObject().Add("event", "check").Add("text", "  √"));
    else
        m_out.Text("  √", false);
    m_bCheckMarkOpen = !m_out.Json();
}

void CTerminalView::OnPortAnswered(int index, const std::string& question, bool bYes)
{
    EndCheckMarkLine();
    OnPortLog(index, kLogInfo, question + (bYes ? " -> Yes" : " -> No (give --yes to continue)"));
}

void CTerminalView::OnPortProgress(int, const SBlockProgress& progress)
{
    const int64_t now = m_clock();
    m_timeLeft.OnBlock(now, progress.nBlock, progress.nTotal);
    const int percent = progress.nTotal > 0 ? static_cast<int>(100LL * progress.nBlock / progress.nTotal) : 100;
    if (m_out.Json()) {
        CJsonObject event;
        event.Add("event", "progress")
            .Add("percent", percent)
            .Add("block", progress.nBlock)
            .Add("total", progress.nTotal)
            .Add("address", static_cast<int64_t>(progress.dwAddress));
        if (const auto seconds = m_timeLeft.Seconds()) event.Add("eta_seconds", *seconds);
        m_out.Object(event);
        return;
    }
    if (!m_bProgressLine) return;
    EndCheckMarkLine();
    const auto rate = static_cast<long long>(m_timeLeft.BytesPerSecond().value_or(0));
    const auto elapsed = static_cast<int>(now / 1000);
    char line[160];
    std::snprintf(line, sizeof line, "%3d%%  Addr 0x%08x  blocks %d/%d  %7lld B/s  %d:%02d  %-11s", percent,
                  progress.dwAddress, progress.nBlock, progress.nTotal, rate, elapsed / 60, elapsed % 60,
                  TimeLeftText(m_timeLeft).c_str());
    m_out.Status("\r" + m_out.FitToTerminal(line));
    m_bProgressShown = true;
}

void CTerminalView::OnPortRunEnded(int, RunOutcome)
{
    EndProgressLine();
    EndCheckMarkLine();
}

}  // namespace kestrel
