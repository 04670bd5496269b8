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
inline constexpr int kJournalSchemaVersion = 5;
// PRAGMA application_id of a journal: "KSTR".
inline constexpr int32_t kJournalApplicationId = 0x4B535452;

// Where the journal lives now; it follows XDG_DATA_HOME at every call.
std::string JournalFilePath();

// Which runs the history shows; empty or absent members do not filter.
struct SJournalFilter {
    std::optional<int64_t> optId;
    std::optional<int> optPort;
    std::string strDevice;
    std::string strSince;    // runs started at or after this UTC time, as ISO 8601 text
    std::string strOutcome;  // as the rows read: a running row whose process died is interrupted
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
    // Opens the journal to read it only, also for a user who may not write it or its folder:
    // nothing is created, migrated, moved aside or written. A missing file (or an empty
    // database) is a journal without runs, NoJournalYet(). False, with LastError(), for a file
    // that cannot be read as a journal: not a database, another program's, a newer schema, or
    // without the runs table or one of its columns.
    bool OpenReadOnly(const std::string& strPath);
    bool NoJournalYet() const { return m_bNoJournalYet; }
    bool IsOpen() const { return m_db.IsOpen(); }
    void Close() { m_db.Close(); }
    const std::string& MovedAside() const { return m_strMovedAside; }
    const std::string& MovedAsideReason() const { return m_strMovedAsideReason; }
    const std::string& LastError() const { return m_strError; }
    // The last failure was another connection holding the journal past the wait: trying
    // again later may succeed.
    bool LastFailureWasBusy() const { return m_bBusy; }

    // Inserts a row without an id (and gives it one, and the station's identity) or updates
    // the row with its id. Each save is a new revision of the row, for the fleet's server.
    bool Save(CJournalRow& row);
    // The journal's station identity, made with it and kept in it; empty before Open.
    const std::string& StationId() const { return m_strStationId; }

    // What the fleet's server does not have yet: rows with their latest revision, oldest first.
    struct SRevisedRow {
        CJournalRow row;
        int64_t nRevision = 0;
    };
    std::optional<std::vector<SRevisedRow>> RowsToForward(int nMax);
    // The server has these revisions now; a row saved again meanwhile stays to be forwarded.
    bool MarkForwarded(const std::vector<SRevisedRow>& rows);
    // How the last attempt to reach the server went: "" for one that succeeded.
    bool NoteForwarding(const std::string& strError);
    struct SForwarding {
        std::string strStationId;     // empty for a journal of an older schema
        int64_t nWaiting = 0;         // rows whose latest revision the server does not have
        std::string strAttemptedAt;   // UTC, ISO 8601; empty before the first attempt
        std::string strError;         // of that attempt; empty when it succeeded
    };
    // Also for a journal opened read-only; one of an older schema has every row waiting.
    std::optional<SForwarding> Forwarding();
    // Newest first; a running row whose process has died reads as interrupted. Nullopt, with
    // LastError(), when the journal cannot be read.
    std::optional<std::vector<CJournalRow>> Runs(const SJournalFilter& filter);

private:
    enum class EVerdict { kUsable, kNotAJournal, kUnavailable };
    // What a file looked like when it was opened: a write changes it.
    struct SFileStamp {
        uint64_t qwDevice = 0;
        uint64_t qwInode = 0;
        int64_t nSize = 0;
        int64_t nModifiedNs = 0;
        bool operator==(const SFileStamp&) const = default;
    };

    // Closes and forgets what an earlier open found.
    void Reset(const std::string& strPath);
    EVerdict OpenAndCheck(const std::string& strPath);
    EVerdict CheckContent();
    bool MoveAside(const std::string& strPath);
    bool MarkInterrupted();
    bool CheckReadable();
    bool ReadWasSound() const;
    // Nullopt, with errno, when the file cannot be reached.
    static std::optional<SFileStamp> StampOf(const std::string& strPath);
    std::optional<std::vector<CJournalRow>> Query(const SJournalFilter& filter);
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
    std::string m_strPath;
    std::string m_strColumns;  // what a SELECT lists to read the fields, in order
    int m_nVersion = 0;        // the schema version of the journal open
    std::string m_strStationId;
    bool m_bNoJournalYet = false;
    bool m_bImmutable = false;  // read as a file nothing writes: see OpenReadOnly
    SFileStamp m_openedStamp;  // of the file opened: a writer moves aside only that one
};

// Runs the schema's steps from the database's PRAGMA user_version up to `toVersion`, in one
// transaction; false when the database is newer than that.
bool MigrateJournal(CSqliteDb& db, int toVersion, std::string& strError);

}  // namespace kestrel
