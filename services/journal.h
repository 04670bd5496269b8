#pragma once
// The run journal: one row per download run in an SQLite database that outlives the program,
// $XDG_DATA_HOME/NORVALE/TIDEWELL/journal.sqlite. Several processes may write it at once
// (WAL mode, bounded waits for one another). One object is one connection, for one thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "services/journal_fields.h"
#include "services/sqlite_db.h"

namespace kestrel {

// How long a statement waits for another process's write before it gives up.
inline constexpr int kJournalBusyTimeoutMs = 1000;
// The schema this program writes; older journals are brought up to it when opened.
inline constexpr int kJournalSchemaVersion = 3;
// PRAGMA application_id of a journal: "KSTR".
inline constexpr int32_t kJournalApplicationId = 0x4B535452;

// Where the journal lives now; it follows XDG_DATA_HOME at every call.
std::string JournalFilePath();

// Which runs the history shows; empty or absent members do not filter.
struct SJournalFilter {
    std::optional<int> optPort;
    std::string strDevice;
    std::string strSince;    // runs started at or after this UTC time, as ISO 8601 text
    std::string strOutcome;
    int nLimit = -1;         // negative: all
};

class CJournal {
public:
    // Asked while another connection holds the journal, with how long this statement has
    // waited: true to wait on. By default a statement waits kJournalBusyTimeoutMs.
    using KeepWaiting = std::function<bool(std::chrono::milliseconds waited)>;
    void SetKeepWaiting(KeepWaiting keepWaiting) { m_keepWaiting = std::move(keepWaiting); }

    // Opens the journal, creating it and its folder. A file that cannot be read as a journal
    // is moved aside (MovedAside() says where) and a new one started; the rows of runs whose
    // process has died are marked interrupted. False, with LastError(), when the journal
    // cannot be used now; a journal of a newer schema is left as it is.
    bool Open(const std::string& strPath);
    bool IsOpen() const { return m_db.IsOpen(); }
    void Close() { m_db.Close(); }
    const std::string& MovedAside() const { return m_strMovedAside; }
    const std::string& MovedAsideReason() const { return m_strMovedAsideReason; }
    const std::string& LastError() const { return m_strError; }
    // The last failure was another connection holding the journal past the wait: trying
    // again later may succeed.
    bool LastFailureWasBusy() const { return m_bBusy; }

    // Inserts a row without an id (and gives it one) or updates the row with its id.
    bool Save(CJournalRow& row);
    // Newest first.
    std::vector<CJournalRow> Runs(const SJournalFilter& filter);
    std::optional<CJournalRow> Run(int64_t nId);

private:
    enum class EVerdict { kUsable, kNotAJournal, kUnavailable };

    EVerdict OpenAndCheck(const std::string& strPath);
    EVerdict CheckContent();
    bool MoveAside(const std::string& strPath);
    bool Migrate();
    bool MarkInterrupted();
    bool Fail(const std::string& strWhat);
    bool Fail(const std::string& strWhat, int nResult);
    static int OnBusy(void* pJournal, int nTries);

    CSqliteDb m_db;
    std::string m_strMovedAside;
    std::string m_strMovedAsideReason;
    std::string m_strError;
    bool m_bBusy = false;
    KeepWaiting m_keepWaiting;
    std::chrono::steady_clock::time_point m_busySince;
    std::string m_strNotAJournal;  // why the file was taken for something else
    uint64_t m_qwOpenedInode = 0;
};

// Runs the schema's steps from the database's PRAGMA user_version up to `toVersion`, in one
// transaction; false when the database is newer than that.
bool MigrateJournal(CSqliteDb& db, int toVersion, std::string& strError);

}  // namespace kestrel
