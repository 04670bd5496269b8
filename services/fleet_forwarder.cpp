#include "services/fleet_forwarder.h"

#include <algorithm>

#include "services/fleet_server.h"

namespace kestrel {

CFleetForwarder::CFleetForwarder(std::string strJournalPath, std::string strUrl, std::string strStationName, Notice notice)
    : m_strJournalPath(std::move(strJournalPath)),
      m_strUrl(std::move(strUrl)),
      m_strStationName(std::move(strStationName)),
      m_notice(std::move(notice)),
      m_thread([this] { Work(); })
{
}

CFleetForwarder::~CFleetForwarder() { Close(0); }

void CFleetForwarder::Wake()
{
    {
        const std::lock_guard lock(m_mutex);
        m_bWoken = true;
    }
    m_wake.notify_one();
}

void CFleetForwarder::Close(int nBudgetMs)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_bClosing) return;
        m_bClosing = true;
    }
    m_interrupt.CapAt(PgClock::now() + std::chrono::milliseconds(nBudgetMs));
    m_wake.notify_one();
    m_thread.join();
}

void CFleetForwarder::Work()
{
    int nRetryMs = 0;
    for (;;) {
        bool bClosing;
        {
            std::unique_lock lock(m_mutex);
            const auto ready = [this] { return m_bWoken || m_bClosing; };
            if (nRetryMs == 0) m_wake.wait(lock, ready);
            else m_wake.wait_for(lock, std::chrono::milliseconds(nRetryMs), ready);
            m_bWoken = false;
            bClosing = m_bClosing;
        }
        if (bClosing && PgClock::now() >= m_interrupt.Cap()) break;
        const bool bForwarded = ForwardWaiting();
        if (bClosing) break;
        nRetryMs = bForwarded ? 0 : std::clamp(nRetryMs * 2, kFleetFirstRetryMs, kFleetLastRetryMs);
    }
    m_pg.Close();
    m_journal.Close();
}

bool CFleetForwarder::Failed(const std::string& strWhat)
{
    m_journal.NoteForwarding(strWhat);
    m_bNotedSuccess = false;
    if (!m_bToldAway) {
        m_bToldAway = true;
        m_notice("Fleet journal: " + strWhat + "; the runs wait in this station's journal and go when the server is back.");
    }
    return false;
}

bool CFleetForwarder::ForwardWaiting()
{
    if (!m_journal.IsOpen() && !m_journal.Open(m_strJournalPath)) return false;
    for (;;) {
        auto optRows = m_journal.RowsToForward(kFleetBatchRows);
        if (!optRows) return false;
        if (optRows->empty()) return true;
        const PgClock::time_point deadline = PgClock::now() + std::chrono::milliseconds(kFleetAttemptMs);
        std::string strError;
        if (!m_pg.IsOpen()) {
            if (!m_pg.Connect(m_strUrl, deadline))
                return Failed(RedactedConnection(m_strUrl) + " cannot be reached: " + m_pg.LastError());
            if (!PrepareFleetSchema(m_pg, deadline, strError)) {
                m_pg.Close();
                return Failed(RedactedConnection(m_strUrl) + " cannot take runs: " + strError);
            }
        }
        if (!ForwardRows(m_pg, *optRows, m_strStationName, deadline, strError)) {
            m_pg.Close();
            return Failed("the runs cannot be sent to " + RedactedConnection(m_strUrl) + ": " + strError);
        }
        if (!m_journal.MarkForwarded(*optRows)) return false;
        if (!m_bNotedSuccess) {
            m_bNotedSuccess = m_journal.NoteForwarding({});
            if (m_bToldAway) m_notice("Fleet journal: the server takes runs again.");
            m_bToldAway = false;
        }
    }
}

}  // namespace kestrel
