#pragma once
// A run session on the command line: Qt's event loop, the journal, the ports of --port with
// the job of the flash options, Ctrl+C, and the exit code of the runs. flash and station are
// this with a view and a rule for when to stop.

#include <QCoreApplication>
#include <functional>
#include <memory>
#include <vector>

#include "cli_output.h"
#include "flash_args.h"
#include "services/journal_writer.h"
#include "services/port_options.h"
#include "services/qt_scheduler.h"
#include "services/run_session.h"
#include "services/stored_settings.h"

namespace kestrel {

// What the command line shows of a session's ports.
class ICliRunView : public IStationObserver {
public:
    // The session whose ports it shows; told nothing before.
    void Attach(const CRunSession& session) { m_pSession = &session; }
    // Leaves the terminal as it should stay, once every run is over.
    virtual void Finish() {}

protected:
    const CRunSession& Session() const { return *m_pSession; }

private:
    const CRunSession* m_pSession = nullptr;
};

class CCliSession {
public:
    // Makes the view, given the clock of the session's scheduler (ms).
    using ViewMaker = std::function<std::unique_ptr<ICliRunView>(std::function<int64_t()> clock)>;

    // frontEnd names the runs in the journal: "cli" or "station".
    CCliSession(CCliOutput& out, const std::vector<CPortOptions>& ports, const char* frontEnd, const ViewMaker& makeView);
    ~CCliSession();
    CCliSession(const CCliSession&) = delete;
    CCliSession& operator=(const CCliSession&) = delete;

    // Loads the job into every port; false, with the error in the log, when it cannot.
    bool Load(const SFlashArgs& args);
    bool Loaded() const { return m_bLoaded; }

    CRunSession& Session() { return *m_pSession; }
    int64_t NowMs() const { return m_scheduler.NowMs(); }
    // Told of each run's end, after the view.
    void SetOnUnitEnded(std::function<void(int nIndex, const SRunSummary& summary)> onUnitEnded)
    {
        m_onUnitEnded = std::move(onUnitEnded);
    }
    // Ctrl+C (or SIGTERM, SIGHUP) stops every port by its own rule and calls onFirst; the next
    // one abandons every run and ends the after-unit commands. False when the signals cannot be caught.
    bool CatchInterrupts(std::function<void()> onFirst);
    // Runs the event loop from start until Quit.
    void Exec(const std::function<void()>& start);
    // Leaves the event loop once no run goes on, no engine is at work and no after-unit command runs.
    void QuitWhenIdle();
    // Ends what still goes on, lets the view finish and the journal write every row.
    void Finish();
    // The most severe of the runs' exit codes so far (3 when the job could not be loaded); 0
    // before any.
    int ExitCode() const { return m_nExitCode; }

private:
    CCliOutput& m_out;
    // Before the objects below, which need the application.
    int m_argc = 1;
    char m_name[12] = "kestrel-cli";
    char* m_argv[2] = {m_name, nullptr};
    QCoreApplication m_app;
    CQtScheduler m_scheduler;
    CStoredSettings m_settings;
    CJournalWriter m_journal;
    std::unique_ptr<ICliRunView> m_pView;
    std::unique_ptr<CRunSession> m_pSession;
    uint32_t m_dwBaudRate;
    std::function<void(int, const SRunSummary&)> m_onUnitEnded;
    bool m_bLoaded = false;
    int m_nExitCode = 0;
    int m_nInterrupts = 0;
    std::unique_ptr<class CInterruptSignals> m_pInterrupts;
};

}  // namespace kestrel
