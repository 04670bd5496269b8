#pragma once
// A run session: the ports a front end flashes, each with its engine, its runs in the journal
// and how each run ended, worked out once. The window, the station window and the command line
// are views over it: they see every port event (after the session has recorded it) and ask the
// session how a run ended and when nothing is going on any more.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/run_summary.h"
#include "protocol/unit_counts.h"
#include "services/journal_writer.h"
#include "services/call_inbox.h"
#include "services/run_recorder.h"
#include "services/unit_hook.h"
#include "station/station.h"

namespace kestrel {

class CDevicePresence;

class CRunSession final : private IStationObserver {
public:
    // strFrontEnd names the runs in the journal ("window", "cli" or "station"). The writer and
    // the view outlive the session.
    CRunSession(IScheduler& scheduler, ISettingsReader& settings, CJournalWriter& journal, std::string strFrontEnd,
                IStationObserver& view);
    ~CRunSession() override;
    CRunSession(const CRunSession&) = delete;
    CRunSession& operator=(const CRunSession&) = delete;

    // A null device opens the real one; its slot is resolved afresh at each open.
    int AddPort(const SStationPortId& id, std::unique_ptr<IPortDevice> device = nullptr);
    // Loads the job into every port; false with the first port's message when it cannot.
    bool LoadJob(const SStationJob& job, std::string& error);
    // "The image runs as X instead of Y." when loading adapted the type asked for; else "".
    std::string TypeChangeNote(int nAsked) const;
    // Handsets coming and going on the ports' slots reach the station; those already there
    // are announced once the event loop runs.
    void WatchHandsets();

    CStation& Station() { return m_station; }
    int PortCount() const { return m_station.PortCount(); }
    const CStationPort& Port(int nIndex) const { return m_station.Port(nIndex); }

    // How the port's last run ended; valid from its end on.
    const SRunSummary& Summary(int nIndex) const { return m_ports[static_cast<std::size_t>(nIndex)].summary; }
    // The port's last log line with something on it.
    const std::string& LastLogLine(int nIndex) const { return m_ports[static_cast<std::size_t>(nIndex)].strLastLine; }
    // The units that ended since the session began or the counts were reset: of the station,
    // and of one port.
    const SUnitCounts& Counts() const { return m_counts; }
    const SUnitCounts& Counts(int nIndex) const { return m_ports[static_cast<std::size_t>(nIndex)].counts; }
    void ResetCounts();
    // The station's counts of an earlier session over other ports go on in this one.
    void ContinueCounts(const SUnitCounts& station) { m_counts = station; }
    // Told after the view of every run's end.
    void SetOnUnitEnded(std::function<void(int nIndex, const SRunSummary& summary)> onUnitEnded)
    {
        m_onUnitEnded = std::move(onUnitEnded);
    }

    // A shell command run after each unit's end, with the unit in its environment; "" for none.
    // Its end goes into the port's log and the unit's journal row; it never changes the unit's.
    void SetUnitHook(std::string strCommand) { m_strUnitHook = std::move(strCommand); }
    // Ends the after-unit commands still running, each told to the view and the journal, and
    // runs none for units that end from now on. Those still running when the session goes
    // are ended untold.
    void StopUnitHooks();

    // No run goes on, no engine is at work and no after-unit command is still to end.
    bool IsIdle() const { return !m_station.AnyRunning() && !m_station.AnyBusy() && m_nHooksToEnd == 0; }
    // Calls then once the session is idle: at once when it is, else as the last engine is free.
    void CallWhenIdle(std::function<void()> then);

private:
    struct SPort {
        std::unique_ptr<CRunRecorder> pRecorder;
        std::string strLastLine;
        SRunSummary summary;
        SUnitCounts counts;
    };

    void OnPortLog(int index, int kind, const std::string& text) override;
    void OnPortCheckMark(int index) override { m_view.OnPortCheckMark(index); }
    void OnPortProgress(int index, const SBlockProgress& progress) override { m_view.OnPortProgress(index, progress); }
    void OnPortRunStarted(int index) override;
    void OnPortRunEnded(int index, RunOutcome outcome) override;
    void OnPortFree(int index) override;
    void OnPortOpened(int index, const std::string& node) override;
    void OnPortPresence(int index, bool bPresent) override { m_view.OnPortPresence(index, bPresent); }
    void OnPortAnswered(int index, const std::string& question, bool bYes) override;
    void CallIfIdle();
    void StartUnitHook(int index, int nExitCode, const CJournalRow& row, std::shared_ptr<CJournalRow> pRow);
    void OnUnitHookEnded(int index, const SHookEnd& end, std::shared_ptr<CJournalRow> pRow);

    IScheduler& m_scheduler;
    CJournalWriter& m_journal;
    const std::string m_strFrontEnd;
    IStationObserver& m_view;
    std::vector<SPort> m_ports;  // before the station, whose ports report into them as they go
    CStation m_station;
    std::unique_ptr<CDevicePresence> m_pPresence;
    SUnitCounts m_counts;
    std::function<void(int, const SRunSummary&)> m_onUnitEnded;
    std::function<void()> m_whenIdle;
    std::string m_strUnitHook;
    bool m_bUnitHooksStopped = false;
    int m_nHooksToEnd = 0;  // asked for at a unit's end and not ended yet
    CUnitHookRunner m_hooks;
    std::unique_ptr<CCallInbox> m_pInbox;  // last: the writer's calls reach the session through it
};

}  // namespace kestrel
