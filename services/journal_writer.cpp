#include "services/journal_writer.h"

#include <QMetaObject>
#include <QObject>

namespace kestrel {

CJournalWriter::CJournalWriter(std::string strPath, Notice notice)
    : m_strPath(std::move(strPath)), m_notice(std::move(notice)), m_thread([this] { Work(); })
{
    // Opened at once, so that leftovers of runs that died are marked, and a journal that
    // cannot be used is told, before the first run.
    Post([this] { EnsureOpen(); });
}

CJournalWriter::~CJournalWriter()
{
    {
        const std::lock_guard lock(m_mutex);
        m_bStopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void CJournalWriter::Post(std::function<void()> job)
{
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void CJournalWriter::Flush()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_jobs.empty() && !m_bBusy; });
}

void CJournalWriter::Work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_bStopping || !m_jobs.empty(); });
            if (m_jobs.empty()) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_bBusy = true;
        }
        job();
        {
            const std::lock_guard lock(m_mutex);
            m_bBusy = false;
        }
        m_idle.notify_all();
    }
}

bool CJournalWriter::EnsureOpen()
{
    if (m_journal.IsOpen()) return true;
    if (!m_journal.Open(m_strPath)) {
        ReportOnce("Journal: runs are not recorded. " + m_journal.LastError());
        return false;
    }
    if (!m_journal.MovedAside().empty() && m_notice)
        m_notice("Journal: " + m_strPath + " could not be read as a journal (" + m_journal.MovedAsideReason() +
                 "); it was moved to " + m_journal.MovedAside() + " and a new journal started.");
    return true;
}

void CJournalWriter::SaveRow(CJournalRow& row)
{
    if (EnsureOpen() && !m_journal.Save(row)) ReportOnce("Journal: runs are not recorded. " + m_journal.LastError());
}

void CJournalWriter::ReportOnce(const std::string& strText)
{
    if (m_bReported) return;
    m_bReported = true;
    if (m_notice) m_notice(strText);
}

CJournalWriter::Notice NoticeOnThreadOf(QObject* pContext, std::function<void(const std::string&)> show)
{
    return [pContext, show = std::move(show)](const std::string& strText) {
        QMetaObject::invokeMethod(pContext, [show, strText] { show(strText); }, Qt::QueuedConnection);
    };
}

}  // namespace kestrel
