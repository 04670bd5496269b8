#pragma once
// Copies the journal's rows to the fleet's server, on a thread of its own with a connection
// of its own to the journal: each row when its run starts and again when it ends, oldest
// first. While the server is away the rows wait in the journal, which says which revision of
// each the server has, and go when it is back. Nothing here ever holds up a run.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "services/journal.h"
#include "services/pg_connection.h"

namespace kestrel {

// How long one attempt may take to reach the server and take a batch of rows.
inline constexpr int kFleetAttemptMs = 10000;
// The waits between attempts while the server is away: doubling from the first to the last.
inline constexpr int kFleetFirstRetryMs = 1000;
inline constexpr int kFleetLastRetryMs = 30000;
// Rows sent in one transaction.
inline constexpr int kFleetBatchRows = 200;

class CFleetForwarder {
public:
    using Notice = std::function<void(const std::string&)>;

    // Starts at once with what already waits. notice is called on the forwarder's thread, once
    // when the server cannot be reached and once when it takes rows again.
    CFleetForwarder(std::string strJournalPath, std::string strUrl, std::string strStationName, Notice notice);
    ~CFleetForwarder();
    CFleetForwarder(const CFleetForwarder&) = delete;
    CFleetForwarder& operator=(const CFleetForwarder&) = delete;

    // Any thread: rows were saved.
    void Wake();
    // Gives what waits at most nBudgetMs more, then stops; what is left goes another time.
    void Close(int nBudgetMs);

private:
    void Work();
    // Forwards until nothing waits; false when an attempt failed.
    bool ForwardWaiting();
    bool Failed(const std::string& strWhat);

    const std::string m_strJournalPath;
    const std::string m_strUrl;
    const std::string m_strStationName;
    const Notice m_notice;
    CPgInterrupt m_interrupt;

    // The forwarder's thread only.
    CJournal m_journal;
    CPgConnection m_pg{m_interrupt};
    bool m_bToldAway = false;
    bool m_bNotedSuccess = false;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bWoken = true;
    bool m_bClosing = false;
    std::thread m_thread;  // last: it starts when everything else is ready
};

}  // namespace kestrel
