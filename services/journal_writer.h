#pragma once
// Writes the journal on a thread of its own, so that a slow disk or another process holding
// the journal never holds up a run. Work is done in the order it was posted. A row the journal
// is too busy to take waits, with the rows after it, and is tried again; at the close what
// still waits gets a short last chance and is then dropped, and the notice names each run lost.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "services/fleet_forwarder.h"
#include "services/journal.h"

class QObject;

namespace kestrel {

// How often rows that wait for a busy journal are tried again.
inline constexpr int kJournalRetryMs = 1000;
// How long the close gives the journal, in all, to take what still waits.
inline constexpr int kJournalCloseBudgetMs = 500;
// And then the fleet's server, to take the rows it does not have yet; the rest go another time.
inline constexpr int kFleetCloseBudgetMs = 1000;

class CJournalWriter {
public:
    using Notice = std::function<void(const std::string&)>;

    // Opens the journal at the path at once. notice is called on the writer's thread: for a
    // file moved aside, when rows start to wait and when they are written after all, once when
    // runs cannot be recorded, and at the close for the runs that were lost.
    CJournalWriter(std::string strPath, Notice notice);
    ~CJournalWriter();
    CJournalWriter(const CJournalWriter&) = delete;
    CJournalWriter& operator=(const CJournalWriter&) = delete;

    void Post(std::function<void()> job);
    // Forwards every row to the fleet's server at the libpq connection string strUrl as well,
    // from now on; "" forwards nothing. Once only.
    void ForwardTo(const std::string& strUrl, const std::string& strStationName);
    // Returns once everything posted so far has been tried; rows may still wait.
    void Flush();
    // Does what was posted, gives waiting rows kJournalCloseBudgetMs in all, then stops the
    // writer: nothing posted afterwards is done. The destructor closes too.
    void Close();

    // On the writer's thread only: saves the row, opening the journal first if it is not open.
    // The row is kept while it waits, and gets its id when it is first written.
    void SaveRow(const std::shared_ptr<CJournalRow>& pRow);

private:
    enum class ESaved { kWritten, kBusy, kFailed };

    void Work();
    bool TakeJob(std::function<void()>& job);
    bool EnsureOpen();
    ESaved TrySave(CJournalRow& row);
    void RetryWaiting();
    // A row that cannot be written (none: the journal cannot be opened); told once.
    void Lose(const std::shared_ptr<CJournalRow>& pRow);
    void DropWaiting();
    bool KeepWaiting(std::chrono::milliseconds waited) const;
    void Tell(const std::string& strText) const;

    const std::string m_strPath;
    const Notice m_notice;
    CJournal m_journal;

    // The writer's thread only.
    std::vector<std::shared_ptr<CJournalRow>> m_waiting;  // oldest first
    std::vector<std::shared_ptr<CJournalRow>> m_lost;     // named at the close
    bool m_bToldNotRecorded = false;
    std::shared_ptr<CFleetForwarder> m_pForwarder;  // told of every row written

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    bool m_bBusy = false;
    bool m_bClosing = false;
    // Steady-clock milliseconds after which no statement waits for the journal any more.
    std::atomic<int64_t> m_nGiveUpAtMs{INT64_MAX};
    std::thread m_thread;  // last: it starts when everything else is ready
};

// A notice that shows its text on the thread of the context object, through its event loop.
CJournalWriter::Notice NoticeOnThreadOf(QObject* pContext, std::function<void(const std::string&)> show);

}  // namespace kestrel
