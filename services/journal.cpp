#include "services/journal.h"

#include <sys/stat.h>

#include <QDateTime>
#include <QStandardPaths>
#include <filesystem>
#include <vector>

#include "services/journal_columns.h"
#include "services/process_owner.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// How often a statement held up by another connection tries again.
constexpr int kBusyPollMs = 10;

// Result codes that say the file is something other than an SQLite database, or a damaged one.
bool MeansNotADatabase(int nResult)
{
    const int nPrimary = nResult & 0xFF;
    return nPrimary == SQLITE_NOTADB || nPrimary == SQLITE_CORRUPT;
}

bool MeansBusy(int nResult)
{
    const int nPrimary = nResult & 0xFF;
    return nPrimary == SQLITE_BUSY || nPrimary == SQLITE_LOCKED;
}

// "journal.sqlite" becomes "journal.unreadable-20261210T150038Z.sqlite", with a number after
// the time when that name is taken.
std::string AsideName(const std::string& strPath)
{
    const fs::path path(strPath);
    const std::string strStamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toStdString();
    const std::string strStem = (path.parent_path() / path.stem()).string() + ".unreadable-" + strStamp;
    std::string strAside = strStem + path.extension().string();
    for (int n = 2; fs::exists(strAside); ++n) strAside = strStem + "-" + std::to_string(n) + path.extension().string();
    return strAside;
}

// The columns of the fields but the id, in order, for the statement that inserts a row.
std::string InsertedColumns()
{
    std::string strColumns;
    for (const SJournalFieldInfo& info : JournalFields()) {
        if (info.eField == JournalField::Id) continue;
        if (!strColumns.empty()) strColumns += ", ";
        strColumns += info.strColumn;
    }
    return strColumns;
}

CJournalRow ReadRow(const CStatement& query)
{
    CJournalRow row;
    int nColumn = 0;
    for (const SJournalFieldInfo& info : JournalFields()) row.Set(info.eField, query.Column(nColumn++));
    return row;
}

}  // namespace

std::string JournalFilePath()
{
    return (QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/NORVALE/TIDEWELL/journal.sqlite"))
        .toStdString();
}

bool CJournal::Fail(const std::string& strWhat)
{
    m_strError = strWhat;
    m_db.Close();
    return false;
}

bool CJournal::Fail(const std::string& strWhat, int nResult)
{
    m_bBusy = MeansBusy(nResult);
    return Fail(strWhat + ": " + (m_db.IsOpen() ? m_db.Error() : sqlite3_errstr(nResult)));
}

void CJournal::Reset(const std::string& strPath)
{
    m_db.Close();
    m_strMovedAside.clear();
    m_strMovedAsideReason.clear();
    m_strError.clear();
    m_bBusy = false;
    m_strPath = strPath;
    m_bNoJournalYet = false;
    m_bImmutable = false;
    m_nVersion = 0;
    m_strStationId.clear();
}

bool CJournal::Open(const std::string& strPath)
{
    Reset(strPath);
    std::error_code error;
    fs::create_directories(fs::path(strPath).parent_path(), error);
    if (error) return Fail("The folder of " + strPath + " cannot be made: " + error.message());

    EVerdict eVerdict = OpenAndCheck(strPath);
    if (eVerdict == EVerdict::kNotAJournal) {
        m_db.Close();
        if (!MoveAside(strPath)) return false;
        m_strMovedAsideReason = m_strNotAJournal;
        eVerdict = OpenAndCheck(strPath);
        if (eVerdict == EVerdict::kNotAJournal) return Fail(strPath + " is still not a journal: " + m_strNotAJournal);
    }
    if (eVerdict != EVerdict::kUsable) return false;
    std::string strError;
    if (!MigrateJournal(m_db, kJournalSchemaVersion, strError)) {
        m_bBusy = MeansBusy(sqlite3_errcode(m_db.Get()));
        return Fail(strPath + " cannot be used: " + strError);
    }
    if (!JournalSelectList(m_db, kJournalSchemaVersion, m_strColumns, strError)) return Fail(strPath + " cannot be read: " + strError);
    m_nVersion = kJournalSchemaVersion;
    CStatement station(m_db, "SELECT id FROM station");
    if (station.Step() != SQLITE_ROW) return Fail(strPath + " has no station identity: " + m_db.Error());
    m_strStationId = station.Text(0);
    return MarkInterrupted();
}

CJournal::EVerdict CJournal::OpenAndCheck(const std::string& strPath)
{
    const int nOpened = m_db.Open(strPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (nOpened != SQLITE_OK) {
        Fail(strPath + " cannot be opened", nOpened);
        return EVerdict::kUnavailable;
    }
    m_openedStamp = StampOf(strPath).value_or(SFileStamp{});
    sqlite3_busy_handler(m_db.Get(), &CJournal::OnBusy, this);
    if (sqlite3_db_readonly(m_db.Get(), "main") == 1) {
        Fail(strPath + " is read-only");
        return EVerdict::kUnavailable;
    }
    const EVerdict eVerdict = CheckContent();
    if (eVerdict != EVerdict::kUsable) {
        if (eVerdict == EVerdict::kUnavailable) Fail(strPath + " cannot be read", SQLITE_ERROR);
        return eVerdict;
    }
    CStatement walMode(m_db, "PRAGMA journal_mode = WAL");
    const int nResult = walMode.Step();
    if (nResult != SQLITE_ROW || walMode.Text(0) != "wal") {
        if (MeansNotADatabase(nResult)) return EVerdict::kNotAJournal;
        Fail(strPath + " cannot be written", nResult);
        return EVerdict::kUnavailable;
    }
    return EVerdict::kUsable;
}

// A journal carries Kestrel's application id; a database without one and without tables is
// new (or was made empty). Anything else, and a damaged file, is not written into: it goes aside.
CJournal::EVerdict CJournal::CheckContent()
{
    const auto step = [this](CStatement& query) {
        const int nResult = query.Step();
        if (nResult == SQLITE_ROW) return EVerdict::kUsable;
        if (MeansNotADatabase(nResult)) {
            m_strNotAJournal = m_db.Error();
            return EVerdict::kNotAJournal;
        }
        return EVerdict::kUnavailable;
    };
    // One statement, one snapshot: another process may be making the journal meanwhile.
    CStatement owner(m_db, "SELECT application_id, (SELECT count(*) FROM sqlite_master) FROM pragma_application_id");
    if (const EVerdict e = step(owner); e != EVerdict::kUsable) return e;
    const int64_t nApplicationId = owner.Int(0);
    if (nApplicationId != kJournalApplicationId && !(nApplicationId == 0 && owner.Int(1) == 0)) {
        m_strNotAJournal = "a database of another program";
        return EVerdict::kNotAJournal;
    }
    CStatement check(m_db, "PRAGMA quick_check");
    if (const EVerdict e = step(check); e != EVerdict::kUsable) return e;
    if (check.Text(0) != "ok") {
        m_strNotAJournal = "damaged: " + check.Text(0);
        return EVerdict::kNotAJournal;
    }
    return EVerdict::kUsable;
}

// The file goes with its write-ahead log and index, under one new name; nothing is deleted.
bool CJournal::MoveAside(const std::string& strPath)
{
    // Another process may have moved it already and started a new journal: that one stays.
    const std::optional<SFileStamp> optNow = StampOf(strPath);
    if (!optNow || optNow->qwInode != m_openedStamp.qwInode) return true;
    const std::string strAside = AsideName(strPath);
    std::error_code error;
    fs::rename(strPath, strAside, error);
    if (error) return Fail(strPath + " is not a journal (" + m_strNotAJournal + ") and cannot be moved aside: " + error.message());
    m_strMovedAside = strAside;
    // A write-ahead log left behind would be played into the new journal.
    for (const char* pszSuffix : {"-wal", "-shm", "-journal"}) {
        if (fs::exists(strPath + pszSuffix)) fs::rename(strPath + pszSuffix, strAside + pszSuffix, error);
        if (error) return Fail(strPath + pszSuffix + " cannot be moved aside: " + error.message());
    }
    return true;
}

int CJournal::OnBusy(void* pJournal, int nTries)
{
    auto& journal = *static_cast<CJournal*>(pJournal);
    const auto now = std::chrono::steady_clock::now();
    if (nTries == 0) journal.m_busySince = now;
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - journal.m_busySince);
    const bool bWaitOn = journal.m_keepWaiting ? journal.m_keepWaiting(waited)
                                               : waited < std::chrono::milliseconds(kJournalBusyTimeoutMs);
    if (bWaitOn) sqlite3_sleep(kBusyPollMs);
    return bWaitOn ? 1 : 0;
}

// The rows of every dead process change in one transaction: a journal left with thousands of
// them is not held up by a commit each.
bool CJournal::MarkInterrupted()
{
    std::vector<std::string> deadOwners;
    {
        CStatement owners(m_db, "SELECT DISTINCT owner FROM runs WHERE outcome = ?1");
        owners.Bind(1, std::string(kOutcomeRunning));
        while (owners.Step() == SQLITE_ROW)
            if (std::string strOwner = owners.Text(0); !IsOwnerAlive(strOwner)) deadOwners.push_back(std::move(strOwner));
    }
    if (deadOwners.empty()) return true;
    const auto fail = [this](int nResult) {
        const std::string strError = m_db.Error();
        m_db.Exec("ROLLBACK");
        m_bBusy = MeansBusy(nResult);
        return Fail("Interrupted runs cannot be marked: " + strError);
    };
    if (const int nResult = m_db.Exec("BEGIN IMMEDIATE"); nResult != SQLITE_OK) return fail(nResult);
    for (const std::string& strOwner : deadOwners) {
        CStatement mark(m_db, "UPDATE runs SET outcome = ?1, revision = revision + 1 WHERE owner = ?2 AND outcome = ?3");
        mark.Bind(1, std::string(kOutcomeInterrupted));
        mark.Bind(2, strOwner);
        mark.Bind(3, std::string(kOutcomeRunning));
        if (const int nResult = mark.Step(); nResult != SQLITE_DONE) return fail(nResult);
    }
    if (const int nResult = m_db.Exec("COMMIT"); nResult != SQLITE_OK) return fail(nResult);
    return true;
}

bool CJournal::Save(CJournalRow& row)
{
    if (!IsOpen()) return false;
    const std::optional<int64_t> optId = row.Number(JournalField::Id);
    // A row saved without its station's identity is this station's, also when it is updated.
    if (row.Text(JournalField::StationId).empty()) row.Set(JournalField::StationId, m_strStationId);
    std::string strSql;
    if (optId) {
        strSql = "UPDATE runs SET ";
        int nParam = 1;
        for (const SJournalFieldInfo& info : JournalFields()) {
            if (info.eField == JournalField::Id) continue;
            if (nParam > 1) strSql += ", ";
            strSql += std::string(info.strColumn) + " = ?" + std::to_string(nParam);
            ++nParam;
        }
        strSql += ", revision = revision + 1 WHERE id = ?" + std::to_string(nParam);
    } else {
        strSql = "INSERT INTO runs (" + InsertedColumns() + ", owner) VALUES (";
        for (int n = 1; n < kJournalFieldCount; ++n) strSql += "?" + std::to_string(n) + ", ";
        strSql += "?" + std::to_string(kJournalFieldCount) + ")";
    }
    CStatement save(m_db, strSql);
    int nParam = 1;
    for (const SJournalFieldInfo& info : JournalFields())
        if (info.eField != JournalField::Id) save.Bind(nParam++, row.Get(info.eField));
    save.Bind(nParam, optId ? JournalValue(*optId) : JournalValue(ThisProcessOwner()));
    const int nResult = save.Step();
    if (nResult != SQLITE_DONE) {
        m_strError = "The run cannot be recorded: " + m_db.Error();
        m_bBusy = MeansBusy(nResult);
        return false;
    }
    if (!optId) row.Set(JournalField::Id, static_cast<int64_t>(sqlite3_last_insert_rowid(m_db.Get())));
    return true;
}

std::optional<std::vector<CJournalRow>> CJournal::Runs(const SJournalFilter& filter)
{
    if (m_bNoJournalYet) return std::vector<CJournalRow>{};
    auto optRows = Query(filter);
    // A writer that came meanwhile may have changed what was read: read again, sharing its locks.
    for (int nRead = 1; optRows && !ReadWasSound(); ++nRead) {
        if (nRead == 3) {
            m_strError = m_strPath + " kept changing while it was read.";
            return std::nullopt;
        }
        if (!OpenReadOnly(m_strPath)) return std::nullopt;
        optRows = m_bNoJournalYet ? std::vector<CJournalRow>{} : Query(filter);
    }
    return optRows;
}

std::optional<std::vector<CJournalRow>> CJournal::Query(const SJournalFilter& filter)
{
    if (!IsOpen()) {
        m_strError = "The journal is not open.";
        return std::nullopt;
    }
    std::string strWhere;
    std::vector<JournalValue> params;
    const auto condition = [&](const char* pszTest, JournalValue value) {
        params.push_back(std::move(value));
        strWhere += (strWhere.empty() ? " WHERE " : " AND ") + std::string(pszTest) + std::to_string(params.size());
    };
    if (filter.optId) condition("id = ?", *filter.optId);
    if (filter.optPort) condition("port = ?", int64_t{*filter.optPort});
    if (!filter.strDevice.empty()) condition("device = ?", filter.strDevice);
    if (!filter.strSince.empty()) condition("started_at >= ?", filter.strSince);
    if (!filter.strOutcome.empty()) condition("outcome = ?", filter.strOutcome);
    // The filters see the rows as they read: a running row whose process died is interrupted.
    CStatement query(m_db, "SELECT * FROM (SELECT " + m_strColumns + " FROM runs)" + strWhere + " ORDER BY id DESC LIMIT " +
                               std::to_string(filter.nLimit));
    for (std::size_t n = 0; n < params.size(); ++n) query.Bind(static_cast<int>(n + 1), params[n]);
    std::vector<CJournalRow> rows;
    int nResult;
    while ((nResult = query.Step()) == SQLITE_ROW) rows.push_back(ReadRow(query));
    if (nResult != SQLITE_DONE) {
        m_strError = m_strPath + " cannot be read: " + m_db.Error();
        return std::nullopt;
    }
    return rows;
}

}  // namespace kestrel
