// The station window as the station's observer: each port's log, bar, step and elapsed time,
// and how its run ended.

#include <QTimer>

#include "app/log_pane.h"
#include "app/station_dlg.h"
#include "app/station_tile.h"
#include "services/station_run_setup.h"

namespace kestrel {
namespace {

constexpr int kClockMs = 250;

// The last line of a text with something on it.
std::string LastLine(const std::string& text)
{
    std::size_t end = text.size();
    while (end > 0) {
        const std::size_t start = text.rfind('\n', end - 1);
        const std::size_t first = start == std::string::npos ? 0 : start + 1;
        if (first < end) return text.substr(first, end - first);
        if (start == std::string::npos) break;
        end = start;
    }
    return {};
}

struct SEnd {
    CStationTile::EState eState;
    std::string text;
};

// What a tile says once its run is over: "completed", "stopped", or in the log's words what
// ended it: the run's last red line, or for a run refused before it began its message.
SEnd EndOfRun(RunOutcome outcome, const RunStatistics& stats, const std::string& strLastLine)
{
    using EState = CStationTile::EState;
    const std::string strRed = LastLine(stats.strLastRedLine);
    switch (outcome) {
    case RunOutcome::Completed: return {EState::Done, "completed"};
    case RunOutcome::Stopped: return {EState::Done, "stopped"};
    case RunOutcome::NothingToDo: return {EState::Done, strRed};
    case RunOutcome::HandsetError:
    case RunOutcome::NoResponse:
    case RunOutcome::PortError:
    case RunOutcome::FileError:
    case RunOutcome::Refused: break;
    }
    return {EState::Failed, strRed.empty() ? strLastLine : strRed};
}

}  // namespace

void CStationDlg::OnPortLog(int index, int kind, const std::string& text)
{
    SPortView& view = m_ports[static_cast<std::size_t>(index)];
    view.pLog->WriteLog(kind, text);
    if (std::string line = LastLine(text); !line.empty()) view.strLastLine = std::move(line);
    if (m_pStation->Port(index).IsRunning()) ShowRunning(index);
}

void CStationDlg::OnPortCheckMark(int index) { Log(index).MarkStepDone(); }

void CStationDlg::OnPortProgress(int index, const BlockProgress& progress)
{
    // The engine's own percentage: whole per cent of the range's blocks sent.
    Tile(index).ShowPercent(progress.nTotal > 0 ? static_cast<int>(100LL * progress.nBlock / progress.nTotal) : 100);
    m_ports[static_cast<std::size_t>(index)].timeLeft.OnBlock(m_qtScheduler.NowMs(), progress.nBlock, progress.nTotal);
    ShowRunning(index);
}

void CStationDlg::OnPortRunStarted(int index)
{
    SPortView& view = m_ports[static_cast<std::size_t>(index)];
    view.pRecorder->OnRunStarted(StationRunSetup(m_pStation->Port(index)));
    view.pLog->clear();
    view.strLastLine.clear();
    view.timeLeft = CTimeLeft{};
    view.pTile->ShowRunStarted();
    ShowRunning(index);
    if (!m_clock.isActive()) m_clock.start(kClockMs);
    UpdateControls();
}

void CStationDlg::OnPortOpened(int index, const std::string& node)
{
    m_ports[static_cast<std::size_t>(index)].pRecorder->OnPortOpened(node);
}

void CStationDlg::OnPortRunEnded(int index, RunOutcome outcome)
{
    const CStationPort& port = m_pStation->Port(index);
    const RunStatistics& stats = port.Engine().Statistics();
    m_ports[static_cast<std::size_t>(index)].pRecorder->OnRunEnded(outcome, stats);
    const SEnd end = EndOfRun(outcome, stats, m_ports[static_cast<std::size_t>(index)].strLastLine);
    CStationTile& tile = Tile(index);
    tile.ShowState(end.eState, end.text);
    tile.ShowElapsed(m_qtScheduler.NowMs() - stats.nStartMs);
    if (!m_pStation->AnyRunning()) m_clock.stop();
    UpdateControls();
}

void CStationDlg::ShowRunning(int nIndex)
{
    const CStationPort& port = m_pStation->Port(nIndex);
    std::string step = port.StepText();
    // Before its first request (the mode switch, say) a run has no step of its own.
    if (step.empty()) step = m_ports[static_cast<std::size_t>(nIndex)].strLastLine;
    CStationTile& tile = Tile(nIndex);
    tile.ShowState(CStationTile::EState::Step, step);
    tile.ShowElapsed(m_qtScheduler.NowMs() - port.Engine().Statistics().nStartMs,
                     TimeLeftText(m_ports[static_cast<std::size_t>(nIndex)].timeLeft));
}

void CStationDlg::OnClockTick()
{
    for (int i = 0; i < TileCount(); ++i)
        if (m_pStation->Port(i).IsRunning()) ShowRunning(i);
}

}  // namespace kestrel
