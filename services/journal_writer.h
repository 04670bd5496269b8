#pragma once
// Writes the journal on a thread of its own, so that a slow disk or another process holding
// the journal never holds up a run. Work is done in the order it was posted; what is still
// waiting when the writer goes is done first.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "services/journal.h"

class QObject;

namespace kestrel {

class CJournalWriter {
public:
    using Notice = std::function<void(const std::string&)>;

    // Opens the journal at the path at once. notice is called on the writer's thread: for a
    // file moved aside, and once for the first time a run cannot be recorded.
    CJournalWriter(std::string strPath, Notice notice);
    ~CJournalWriter();
    CJournalWriter(const CJournalWriter&) = delete;
    CJournalWriter& operator=(const CJournalWriter&) = delete;

    void Post(std::function<void()> job);
    // Returns once everything posted so far is done.
    void Flush();

    // On the writer's thread only: saves the row, opening the journal first if it is not open.
    void SaveRow(CJournalRow& row);

private:
    void Work();
    bool EnsureOpen();
    void ReportOnce(const std::string& strText);

    const std::string m_strPath;
    const Notice m_notice;
    CJournal m_journal;
    bool m_bReported = false;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    bool m_bBusy = false;
    bool m_bStopping = false;
    std::thread m_thread;  // last: it starts when everything else is ready
};

// A notice that shows its text on the thread of the context object, through its event loop.
CJournalWriter::Notice NoticeOnThreadOf(QObject* pContext, std::function<void(const std::string&)> show);

}  // namespace kestrel
