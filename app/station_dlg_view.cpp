// The station window as the station's observer: each port's log, bar, step and elapsed time,
// and how its run ended.

#include <QLabel>
#include <QTextDocument>
#include <QTimer>

#include "app/log_pane.h"
#include "app/station_dlg.h"
#include "app/station_tile.h"

namespace kestrel {
namespace {

constexpr int kClockMs = 250;

struct SEnd {
    CStationTile::EState eState;
    std::string text;
};

// What a tile says once its run is over: "completed", "stopped", or in the log's words what
// ended it.
SEnd EndOfRun(const SRunSummary& summary)
{
    using EState = CStationTile::EState;
    switch (summary.eOutcome) {
    case RunOutcome::Completed: return {EState::Completed, "completed"};
    case RunOutcome::Stopped: return {EState::Stopped, "stopped"};
    case RunOutcome::NothingToDo: return {EState::Completed, summary.strReason};
    case RunOutcome::HandsetError:
    case RunOutcome::NoResponse:
    case RunOutcome::PortError:
    case RunOutcome::FileError:
    case RunOutcome::Refused: break;
    }
    return {EState::Failed, summary.strReason};
}

}  // namespace

void CStationDlg::OnPortLog(int index, int kind, const std::string& text)
{
    Log(index).WriteLog(kind, text);
    if (m_pSession->Port(index).IsRunning()) ShowRunning(index);
}

void CStationDlg::OnPortCheckMark(int index) { Log(index).MarkStepDone(); }

void CStationDlg::OnPortProgress(int index, const SBlockProgress& progress)
{
    // The engine's own percentage: whole per cent of the range's blocks sent.
    Tile(index).ShowPercent(progress.nTotal > 0 ? static_cast<int>(100LL * progress.nBlock / progress.nTotal) : 100);
    m_ports[static_cast<std::size_t>(index)].timeLeft.OnBlock(m_qtScheduler.NowMs(), progress.nBlock, progress.nTotal);
    ShowRunning(index);
}

void CStationDlg::OnPortRunStarted(int index)
{
    SPortView& view = m_ports[static_cast<std::size_t>(index)];
    // The port's earlier runs stay above, a blank line apart.
    if (!view.pLog->document()->isEmpty()) view.pLog->WriteLog(kLogInfo, {});
    view.timeLeft = CTimeLeft{};
    view.pTile->ShowRunStarted();
    ShowRunning(index);
    if (!m_clock.isActive()) m_clock.start(kClockMs);
    UpdateControls();
}

void CStationDlg::OnPortRunEnded(int index, RunOutcome)
{
    const SRunSummary& summary = m_pSession->Summary(index);
    const SEnd end = EndOfRun(summary);
    CStationTile& tile = Tile(index);
    tile.ShowState(end.eState, end.text);
    tile.ShowElapsed(summary.nDurationMs);
    if (!m_pSession->Station().AnyRunning()) m_clock.stop();
    ShowCounts();
    UpdateControls();
}

void CStationDlg::OnPortPresence(int index, bool)
{
    UpdateControls();
    // How the last run ended stays until the next one starts.
    if (m_pSession->Port(index).IsRunning() || m_pSession->Port(index).IsBusy()) return;
    const CStationTile::EState eState = Tile(index).State();
    if (eState == CStationTile::EState::Waiting || eState == CStationTile::EState::Ready) ShowPresence(index);
}

void CStationDlg::ShowPresence(int nIndex)
{
    if (m_pSession->Station().IsPresent(nIndex))
        Tile(nIndex).ShowState(CStationTile::EState::Ready, std::string(kReadyText));
    else
        Tile(nIndex).ShowState(CStationTile::EState::Waiting, std::string(kWaitingText));
}

void CStationDlg::ShowRunning(int nIndex)
{
    const CStationPort& port = m_pSession->Port(nIndex);
    std::string step = port.StepText();
    // Before its first request (the mode switch, say) a run has no step of its own.
    if (step.empty()) step = m_pSession->LastLogLine(nIndex);
    // The time left of the write on the step's second line, where the tile has room for it.
    const std::string strTimeLeft = TimeLeftText(m_ports[static_cast<std::size_t>(nIndex)].timeLeft);
    if (!strTimeLeft.empty()) step += "\n" + strTimeLeft;
    CStationTile& tile = Tile(nIndex);
    tile.ShowState(CStationTile::EState::Running, step);
    tile.ShowElapsed(m_qtScheduler.NowMs() - port.Engine().Statistics().nStartMs);
}

void CStationDlg::OnClockTick()
{
    for (int i = 0; i < TileCount(); ++i)
        if (m_pSession->Port(i).IsRunning()) ShowRunning(i);
    // The pace follows the clock.
    ShowCounts();
}

void CStationDlg::ShowCounts()
{
    const int64_t nNowMs = m_qtScheduler.NowMs();
    m_labelCounts->setText(QStringLiteral("Station: ") + QString::fromStdString(CountsText(m_pSession->Counts(), nNowMs)));
    for (int i = 0; i < TileCount(); ++i) {
        const SUnitCounts& counts = m_pSession->Counts(i);
        Tile(i).ShowCounts(counts.nCompleted, counts.Failed(), CountsText(counts, nNowMs));
    }
}

void CStationDlg::OnResetCounts()
{
    if (!m_pSession) return;
    m_pSession->ResetCounts();
    ShowCounts();
}

}  // namespace kestrel
