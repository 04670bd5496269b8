#include "services/run_session.h"

#include <QMetaObject>

#include "image/download_type.h"
#include "protocol/run_ending.h"
#include "services/device_presence.h"
#include "services/settings_store.h"
#include "services/slot_resolver.h"
#include "services/unit_hook_environment.h"

namespace kestrel {
namespace {

// What the journal records of a port's run at its start. The node is not known yet: the slot
// is resolved as the run opens it, and the recorder hears of each node opened.
SRunSetup SetupOf(const CStationPort& port)
{
    SRunSetup setup;
    setup.nPort = port.Id().nPort;
    setup.nDloadType = port.Engine().DloadType();
    setup.pNewImage = &port.Engine().NewImage();
    setup.pOldImage = &port.Engine().OldImage();
    setup.strSlot = port.Id().strSlot;
    setup.strSlotLabel = port.Id().strLabel;
    return setup;
}

}  // namespace

CRunSession::CRunSession(IScheduler& scheduler, ISettingsReader& settings, CJournalWriter& journal,
                         std::string strFrontEnd, IStationObserver& view)
    : m_scheduler(scheduler),
      m_journal(journal),
      m_strFrontEnd(std::move(strFrontEnd)),
      m_view(view),
      m_station(scheduler, settings, *this),
      m_pInbox(std::make_unique<CCallInbox>())
{
    m_station.SetSlotResolver([](const std::string& slot) { return SlotNodeToOpen(slot, StoredSettingLookup()); });
    ResetCounts();
}

CRunSession::~CRunSession() = default;

int CRunSession::AddPort(const SStationPortId& id, std::unique_ptr<IPortDevice> device)
{
    m_ports.push_back({std::make_unique<CRunRecorder>(m_journal, m_strFrontEnd), {}, {}, SUnitCounts{.nSinceMs = m_counts.nSinceMs}});
    return m_station.AddPort(id, std::move(device));
}

bool CRunSession::LoadJob(const SStationJob& job, std::string& error)
{
    if (!m_station.LoadJob(job, error)) return false;
    for (int i = 0; i < PortCount(); ++i) {
        const CDownloadController& engine = Port(i).Engine();
        CRunRecorder& recorder = *m_ports[static_cast<std::size_t>(i)].pRecorder;
        recorder.OnImageLoaded(engine.NewImage());
        if (!job.strOldImage.empty()) recorder.OnImageLoaded(engine.OldImage());
    }
    return true;
}

std::string CRunSession::TypeChangeNote(int nAsked) const
{
    if (PortCount() == 0 || nAsked < 0 || nAsked >= kDownloadTypeCount) return {};
    const int nType = Port(0).TypeAsRun();
    if (nType == nAsked || nType < 0 || nType >= kDownloadTypeCount) return {};
    return "The image runs as " + std::string(kDownloadTypeNames[static_cast<std::size_t>(nType)]) + " instead of " +
           std::string(kDownloadTypeNames[static_cast<std::size_t>(nAsked)]) + ".";
}

void CRunSession::WatchHandsets()
{
    std::vector<std::string> slotNames;
    for (int i = 0; i < PortCount(); ++i)
        if (!Port(i).Id().strSlot.empty()) slotNames.push_back(Port(i).Id().strSlot);
    if (slotNames.empty()) return;
    m_pPresence = std::make_unique<CDevicePresence>(slotNames);
    QObject::connect(m_pPresence.get(), &CDevicePresence::Arrived,
                     [this](const QString& slot) { m_station.OnDeviceArrived(slot.toStdString()); });
    QObject::connect(m_pPresence.get(), &CDevicePresence::Gone,
                     [this](const QString& slot) { m_station.OnDeviceGone(slot.toStdString()); });
    CDevicePresence* pPresence = m_pPresence.get();
    QMetaObject::invokeMethod(pPresence, [pPresence] { pPresence->AnnouncePresent(); }, Qt::QueuedConnection);
}

void CRunSession::CallWhenIdle(std::function<void()> then)
{
    m_whenIdle = std::move(then);
    CallIfIdle();
}

void CRunSession::CallIfIdle()
{
    if (!m_whenIdle || !IsIdle()) return;
    // Taken out first: the call may ask again, or end the session.
    std::exchange(m_whenIdle, nullptr)();
}

void CRunSession::OnPortLog(int index, int kind, const std::string& text)
{
    if (std::string line = LastTextLine(text); !line.empty())
        m_ports[static_cast<std::size_t>(index)].strLastLine = std::move(line);
    m_view.OnPortLog(index, kind, text);
}

void CRunSession::OnPortAnswered(int index, const std::string& question, bool bYes)
{
    m_ports[static_cast<std::size_t>(index)].strLastLine = LastTextLine(AnsweredText(question, bYes));
    m_view.OnPortAnswered(index, question, bYes);
}

void CRunSession::OnPortRunStarted(int index)
{
    SPort& port = m_ports[static_cast<std::size_t>(index)];
    port.strLastLine.clear();
    port.pRecorder->OnRunStarted(SetupOf(Port(index)));
    m_view.OnPortRunStarted(index);
}

void CRunSession::OnPortOpened(int index, const std::string& node)
{
    m_ports[static_cast<std::size_t>(index)].pRecorder->OnPortOpened(node);
    m_view.OnPortOpened(index, node);
}

void CRunSession::OnPortRunEnded(int index, RunOutcome outcome)
{
    SPort& port = m_ports[static_cast<std::size_t>(index)];
    const SRunStatistics& stats = Port(index).Engine().Statistics();
    port.summary = SummarizeRun(outcome, stats, port.strLastLine);
    CRunRecorder::RowSaved onSaved;
    if (!m_strUnitHook.empty() && !m_bUnitHooksStopped) {
        ++m_nHooksToEnd;
        // The command learns the row's id, digest and USB serial once the writer has them.
        const int nExitCode = EndingOf(outcome).exitCode;
        onSaved = [poster = m_pInbox->Poster(), this, index, nExitCode](const CJournalRow& row, std::shared_ptr<CJournalRow> pRow) {
            poster.Post([this, index, nExitCode, row, pRow = std::move(pRow)]() mutable {
                StartUnitHook(index, nExitCode, row, std::move(pRow));
            });
        };
    }
    port.pRecorder->OnRunEnded(port.summary, stats, std::move(onSaved));
    m_counts.Add(port.summary);
    port.counts.Add(port.summary);
    m_view.OnPortRunEnded(index, outcome);
    if (m_onUnitEnded) m_onUnitEnded(index, port.summary);
    CallIfIdle();
}

void CRunSession::StartUnitHook(int index, int nExitCode, const CJournalRow& row, std::shared_ptr<CJournalRow> pRow)
{
    if (m_bUnitHooksStopped) {
        OnUnitHookEnded(index, SHookEnd{"stopped", {}}, std::move(pRow));
        return;
    }
    m_hooks.Start(m_strUnitHook, UnitHookEnvironment(row, Port(index).Id().Label(), nExitCode),
                  [this, index, pRow = std::move(pRow)](const SHookEnd& end) { OnUnitHookEnded(index, end, pRow); });
}

void CRunSession::OnUnitHookEnded(int index, const SHookEnd& end, std::shared_ptr<CJournalRow> pRow)
{
    if (const std::size_t nEnd = end.strOutput.find_last_not_of(" \t\r\n"); nEnd != std::string::npos)
        m_view.OnPortLog(index, kLogInfo, end.strOutput.substr(0, nEnd + 1));
    m_view.OnPortLog(index, end.Succeeded() ? kLogInfo : kLogError, end.LogLine());
    CJournalRow status;
    status.Set(JournalField::HookStatus, end.strStatus);
    m_ports[static_cast<std::size_t>(index)].pRecorder->AddToRow(std::move(pRow), status);
    --m_nHooksToEnd;
    CallIfIdle();
}

void CRunSession::StopUnitHooks()
{
    m_bUnitHooksStopped = true;
    m_hooks.StopAll();
}

void CRunSession::ResetCounts()
{
    m_counts = SUnitCounts{.nSinceMs = m_scheduler.NowMs()};
    for (SPort& port : m_ports) port.counts = m_counts;
}

void CRunSession::OnPortFree(int index)
{
    m_view.OnPortFree(index);
    CallIfIdle();
}

}  // namespace kestrel
