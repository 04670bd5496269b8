#include "cli_session.h"

#include "protocol/exit_codes.h"
#include "interrupt_signals.h"
#include "services/fleet_settings.h"
#include "services/settings_store.h"

namespace kestrel {

CCliSession::CCliSession(CCliOutput& out, const std::vector<CPortOptions>& ports, const char* frontEnd,
                         const ViewMaker& makeView)
    : m_out(out),
      m_app(m_argc, m_argv),
      // What the journal has to say goes into the log.
      m_journal(JournalFilePath(), NoticeOnThreadOf(&m_app, [&out](const std::string& text) { out.Log(kLogInfo, text); })),
      m_pView(makeView([this] { return m_scheduler.NowMs(); })),
      m_pSession(std::make_unique<CRunSession>(m_scheduler, m_settings, m_journal, frontEnd, *m_pView)),
      m_dwBaudRate(ports.front().dwBaudRate)
{
    m_pView->Attach(*m_pSession);
    for (const CPortOptions& port : ports) m_pSession->AddPort({port.nPort, port.strDevicePath, port.strLabel});
    m_pSession->SetOnUnitEnded([this](int nIndex, const SRunSummary& summary) {
        m_nExitCode = MostSevereExitCode(m_nExitCode, EndingOf(summary.eOutcome).exitCode);
        if (m_onUnitEnded) m_onUnitEnded(nIndex, summary);
    });
}

// The session's engines go before the view they may still tell of a cancelled run.
CCliSession::~CCliSession() { m_pSession.reset(); }

bool CCliSession::Load(const SFlashArgs& args)
{
    SStationJob job;
    job.strImage = args.strImage;
    job.strOldImage = args.strOld;
    const int nAsked = args.type.value_or(ReadNumber(kSettingDloadType, 0));
    job.nType = nAsked;
    job.nBaudIndex = m_dwBaudRate == 115200 ? 1 : 0;
    job.dwFontAddress = args.fontAddress.value_or(0xE00000);
    job.bAnswerYes = args.bYes;
    std::string error;
    if (!m_pSession->LoadJob(job, error)) {
        m_out.Log(kLogError, error);
        m_nExitCode = kExitFileError;
        return false;
    }
    if (const std::string note = m_pSession->TypeChangeNote(nAsked); !note.empty()) m_out.Log(kLogInfo, note);
    m_pSession->SetUnitHook(args.strOnUnit);
    m_journal.ForwardTo(FleetJournalUrl(args.strJournalUrl), ThisStationName());
    m_bLoaded = true;
    return true;
}

bool CCliSession::CatchInterrupts(std::function<void()> onFirst)
{
    m_pInterrupts = std::make_unique<CInterruptSignals>([this, onFirst = std::move(onFirst)] {
        CStation& station = m_pSession->Station();
        if (++m_nInterrupts == 1) {
            station.StopAll();
            onFirst();
        } else {
            station.AbandonAll();
            m_pSession->StopUnitHooks();
        }
    });
    return m_pInterrupts->IsReady();
}

void CCliSession::Exec(const std::function<void()>& start)
{
    QMetaObject::invokeMethod(&m_app, start, Qt::QueuedConnection);
    m_app.exec();
}

void CCliSession::QuitWhenIdle()
{
    m_pSession->CallWhenIdle([] { QCoreApplication::quit(); });
}

void CCliSession::Finish()
{
    // A run abandoned with a second Ctrl+C may still hold its port.
    m_pSession->Station().AbandonAll();
    m_pView->Finish();
    // Every row is written or told lost, and what the journal said is in the log, before the end line.
    m_journal.Close();
    QCoreApplication::sendPostedEvents();
}

}  // namespace kestrel
