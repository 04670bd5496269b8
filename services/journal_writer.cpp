#include "services/journal_writer.h"

#include <algorithm>

#include "services/call_inbox.h"

namespace kestrel {
namespace {

int64_t SteadyNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// "the run on port 3 started 2026-12-11T08:00:01.123Z", as an operator finds it again.
std::string DescribeRun(const CJournalRow& row)
{
    std::string strWhere;
    if (const auto optPort = row.Number(JournalField::Port)) strWhere = " on port " + std::to_string(*optPort);
    else if (const std::string strSlot = row.Text(JournalField::Slot); !strSlot.empty()) strWhere = " on slot " + strSlot;
    else if (const std::string strDevice = row.Text(JournalField::Device); !strDevice.empty()) strWhere = " on " + strDevice;
    return "the run" + strWhere + " started " + row.Text(JournalField::StartedAt);
}

}  // namespace

CJournalWriter::CJournalWriter(std::string strPath, Notice notice)
    : m_strPath(std::move(strPath)), m_notice(std::move(notice)), m_thread([this] { Work(); })
{
    m_journal.SetKeepWaiting([this](std::chrono::milliseconds waited) { return KeepWaiting(waited); });
    // Opened at once, so that leftovers of runs that died are marked, and a journal that
    // cannot be used is told, before the first run. A busy journal is opened at the first row.
    Post([this] {
        if (!EnsureOpen() && !m_journal.LastFailureWasBusy()) Lose(nullptr);
    });
}

CJournalWriter::~CJournalWriter() { Close(); }

void CJournalWriter::Post(std::function<void()> job)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_bClosing) return;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void CJournalWriter::ForwardTo(const std::string& strUrl, const std::string& strStationName)
{
    if (strUrl.empty()) return;
    auto pForwarder = std::make_shared<CFleetForwarder>(m_strPath, strUrl, strStationName, m_notice);
    Post([this, pForwarder] { m_pForwarder = pForwarder; });
}

void CJournalWriter::Flush()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_jobs.empty() && !m_bBusy; });
}

void CJournalWriter::Close()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_bClosing) return;
        m_bClosing = true;
    }
    m_nGiveUpAtMs = SteadyNowMs() + kJournalCloseBudgetMs;
    m_wake.notify_one();
    m_thread.join();
    if (m_pForwarder) m_pForwarder->Close(kFleetCloseBudgetMs);
}

void CJournalWriter::Work()
{
    std::function<void()> job;
    while (TakeJob(job)) {
        if (job) job();
        else RetryWaiting();
        {
            const std::lock_guard lock(m_mutex);
            m_bBusy = false;
        }
        m_idle.notify_all();
    }
    RetryWaiting();
    DropWaiting();
}

// False once the writer closes and every job is done. An empty job: time to retry the rows
// that wait.
bool CJournalWriter::TakeJob(std::function<void()>& job)
{
    std::unique_lock lock(m_mutex);
    const auto ready = [this] { return m_bClosing || !m_jobs.empty(); };
    if (m_waiting.empty()) m_wake.wait(lock, ready);
    else if (!m_wake.wait_for(lock, std::chrono::milliseconds(kJournalRetryMs), ready)) {
        job = nullptr;
        m_bBusy = true;
        return true;
    }
    if (m_jobs.empty()) return false;
    job = std::move(m_jobs.front());
    m_jobs.pop_front();
    m_bBusy = true;
    return true;
}

bool CJournalWriter::KeepWaiting(std::chrono::milliseconds waited) const
{
    return waited < std::chrono::milliseconds(kJournalBusyTimeoutMs) && SteadyNowMs() < m_nGiveUpAtMs;
}

bool CJournalWriter::EnsureOpen()
{
    if (m_journal.IsOpen()) return true;
    if (!m_journal.Open(m_strPath)) return false;
    if (!m_journal.MovedAside().empty())
        Tell("Journal: " + m_strPath + " could not be read as a journal (" + m_journal.MovedAsideReason() + "); it was moved to " +
             m_journal.MovedAside() + " and a new journal started.");
    return true;
}

CJournalWriter::ESaved CJournalWriter::TrySave(CJournalRow& row)
{
    if (EnsureOpen() && m_journal.Save(row)) {
        if (m_pForwarder) m_pForwarder->Wake();
        return ESaved::kWritten;
    }
    return m_journal.LastFailureWasBusy() ? ESaved::kBusy : ESaved::kFailed;
}

void CJournalWriter::SaveRow(const std::shared_ptr<CJournalRow>& pRow)
{
    // Behind a row that waits, so that the journal keeps the order of the runs.
    if (!m_waiting.empty()) {
        if (std::find(m_waiting.begin(), m_waiting.end(), pRow) == m_waiting.end()) m_waiting.push_back(pRow);
        return;
    }
    switch (TrySave(*pRow)) {
    case ESaved::kWritten:
        std::erase(m_lost, pRow);
        return;
    case ESaved::kBusy:
        m_waiting.push_back(pRow);
        Tell("Journal: " + m_strPath + " is held by another program (" + m_journal.LastError() + "); " + DescribeRun(*pRow) +
             " and the runs after it wait, and are recorded when the journal is free.");
        return;
    case ESaved::kFailed: Lose(pRow); return;
    }
}

void CJournalWriter::RetryWaiting()
{
    if (m_waiting.empty()) return;
    std::size_t nWritten = 0;
    for (; !m_waiting.empty(); m_waiting.erase(m_waiting.begin())) {
        const std::shared_ptr<CJournalRow> pRow = m_waiting.front();
        const ESaved eSaved = TrySave(*pRow);
        if (eSaved == ESaved::kBusy) return;
        if (eSaved == ESaved::kFailed) {
            Lose(pRow);
        } else {
            std::erase(m_lost, pRow);
            ++nWritten;
        }
    }
    if (nWritten > 0)
        Tell("Journal: " + std::string(nWritten == 1 ? "the run that waited is" : "the runs that waited are") + " recorded now.");
}

void CJournalWriter::Lose(const std::shared_ptr<CJournalRow>& pRow)
{
    if (pRow && std::find(m_lost.begin(), m_lost.end(), pRow) == m_lost.end()) m_lost.push_back(pRow);
    if (m_bToldNotRecorded) return;
    m_bToldNotRecorded = true;
    Tell("Journal: runs are not recorded. " + m_journal.LastError());
}

void CJournalWriter::DropWaiting()
{
    for (const std::shared_ptr<CJournalRow>& pRow : m_waiting)
        if (std::find(m_lost.begin(), m_lost.end(), pRow) == m_lost.end()) m_lost.push_back(pRow);
    m_waiting.clear();
    if (m_lost.empty()) return;
    std::string strRuns;
    for (const std::shared_ptr<CJournalRow>& pRow : m_lost) strRuns += (strRuns.empty() ? "" : "; ") + DescribeRun(*pRow);
    Tell("Journal: " + std::to_string(m_lost.size()) + (m_lost.size() == 1 ? " run is" : " runs are") + " not recorded: " + strRuns + ".");
}

void CJournalWriter::Tell(const std::string& strText) const
{
    if (m_notice) m_notice(strText);
}

CJournalWriter::Notice NoticeOnThreadOf(QObject* pContext, std::function<void(const std::string&)> show)
{
    const CCallInbox::CPoster poster = (new CCallInbox(pContext))->Poster();
    return [poster, show = std::move(show)](const std::string& strText) { poster.Post([show, strText] { show(strText); }); };
}

}  // namespace kestrel
