#include "station_terminal_view.h"

#include <cstdio>

#include "flash_args.h"
#include "terminal_view.h"

namespace kestrel {
namespace {
constexpr int kDrawIntervalMs = 100;
}  // namespace

CStationTerminalView::CStationTerminalView(CCliOutput& out, bool statusLines, bool logLines,
                                           std::function<int64_t()> clock, bool everyPortRuns)
    : m_out(out),
      m_bStatusLines(statusLines && !out.Json()),
      m_bLogLines(logLines || !m_bStatusLines),
      m_clock(std::move(clock)),
      m_bEveryPortRuns(everyPortRuns)
{
    m_drawTimer.setSingleShot(true);
    QObject::connect(&m_drawTimer, &QTimer::timeout, [this] { Draw(); });
}

void CStationTerminalView::OnPortLog(int index, int kind, const std::string& text)
{
    const std::string port = Session().Port(index).Id().Label();
    if (m_out.Json()) {
        m_out.Object(CJsonObject().Add("event", "log").Add("port", port).Add("kind", kind)
                         .Add("colour", LogKindColour(kind)).Add("text", text));
        return;
    }
    if (!m_bLogLines) return;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty()) m_out.Text("[" + port + "] " + line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

void CStationTerminalView::OnPortCheckMark(int index)
{
    const std::string port = Session().Port(index).Id().Label();
    if (m_out.Json())
        m_out.Object(CJsonObject().Add("event", "check").Add("port", port).Add("text", "  √"));
    else if (m_bLogLines)
        m_out.Text("[" + port + "]   √");
}

void CStationTerminalView::OnPortProgress(int index, const SBlockProgress& progress)
{
    SPortStatus& status = Status(index);
    const int64_t now = m_clock();
    status.nPercent = progress.nTotal > 0 ? static_cast<int>(100LL * progress.nBlock / progress.nTotal) : 100;
    status.dwAddress = progress.dwAddress;
    status.timeLeft.OnBlock(now, progress.nBlock, progress.nTotal);
    if (m_out.Json()) {
        CJsonObject event;
        event.Add("event", "progress").Add("port", Session().Port(index).Id().Label())
            .Add("percent", status.nPercent).Add("block", progress.nBlock).Add("total", progress.nTotal)
            .Add("address", static_cast<int64_t>(progress.dwAddress));
        if (const auto seconds = status.timeLeft.Seconds()) event.Add("eta_seconds", *seconds);
        m_out.Object(event);
        return;
    }
    ScheduleDraw();
}

void CStationTerminalView::OnPortRunStarted(int index)
{
    Status(index) = SPortStatus{};
    Status(index).nStartMs = m_clock();
    ScheduleDraw();
}

void CStationTerminalView::OnPortRunEnded(int index, RunOutcome outcome)
{
    SPortStatus& status = Status(index);
    status.nEndMs = m_clock();
    const SEnding ending = EndingOf(outcome);
    const SRunSummary& summary = Session().Summary(index);
    status.strEnd = IsSuccess(outcome) || summary.strReason.empty() ? ending.result
                                                                    : std::string(ending.result) + ": " + summary.strReason;
    const std::string port = Session().Port(index).Id().Label();
    if (m_out.Json()) {
        CJsonObject end;
        end.Add("event", "end").Add("port", port).Add("result", ending.result).Add("exit_code", ending.exitCode)
            .Add("slot", Session().Port(index).Id().strSlot);
        m_out.Object(AddBackupFailure(end, Session().Port(index).Engine().Statistics()));
    }
    else if (m_bLogLines)
        m_out.Text("[" + port + "] " + StatusLine(index, status.nEndMs));
    ScheduleDraw();
}

CStationTerminalView::SPortStatus& CStationTerminalView::Status(int index)
{
    if (m_status.size() <= static_cast<std::size_t>(index)) m_status.resize(static_cast<std::size_t>(index) + 1);
    return m_status[static_cast<std::size_t>(index)];
}

std::string CStationTerminalView::StatusLine(int index, int64_t now)
{
    const SPortStatus& status = Status(index);
    const CStationPort& port = Session().Port(index);
    const int64_t end = status.nEndMs >= 0 ? status.nEndMs : now;
    const auto elapsed = static_cast<int>(status.nStartMs >= 0 ? (end - status.nStartMs) / 1000 : 0);
    // The pace of the write while it goes on; the run's own rate once it has ended.
    const auto rate = static_cast<long long>(status.nEndMs >= 0 ? Session().Summary(index).nBytesPerSecond
                                                                 : status.timeLeft.BytesPerSecond().value_or(0));
    std::string state = !status.strEnd.empty() ? status.strEnd
                        : status.nStartMs < 0  ? std::string("waiting for handset")
                                               : port.StepText();
    if (status.strEnd.empty() && status.nStartMs >= 0) {
        const std::string left = TimeLeftText(status.timeLeft);
        if (!left.empty()) state += "  " + left;
    }
    char line[512];
    // A port given as a device path without a label of its own is labelled by it already.
    const std::string device = port.Id().nPort > 0 || !port.Id().strLabel.empty() ? port.Id().strSlot : std::string();
    std::snprintf(line, sizeof line, "%-6s %-14s %3d%%  Addr 0x%08x  %7lld B/s  %d:%02d  %s", port.Id().Label().c_str(),
                  device.c_str(), status.nPercent, status.dwAddress, rate, elapsed / 60, elapsed % 60,
                  state.c_str());
    return line;
}

void CStationTerminalView::ScheduleDraw()
{
    if (m_bStatusLines && !m_drawTimer.isActive()) m_drawTimer.start(kDrawIntervalMs);
}

void CStationTerminalView::Draw()
{
    if (!m_bStatusLines) return;
    const int64_t now = m_clock();
    // Back to the top of the block, then every line anew, in one write so that no half-drawn
    // block shows.
    std::string block = m_nLinesDrawn > 0 ? "\x1b[" + std::to_string(m_nLinesDrawn) + "A" : std::string();
    for (int i = 0; i < Session().PortCount(); ++i)
        block += "\r\x1b[2K" + m_out.FitToTerminal(StatusLine(i, now)) + "\n";
    m_out.Status(block);
    m_nLinesDrawn = Session().PortCount();
}

void CStationTerminalView::Finish()
{
    for (int i = 0; m_bEveryPortRuns && i < Session().PortCount(); ++i)
        if (Status(i).nStartMs < 0) OnPortRunEnded(i, RunOutcome::Stopped);
    m_drawTimer.stop();
    Draw();
}

}  // namespace kestrel
