#include "services/fleet_server.h"

#include <array>
#include <map>

namespace kestrel {
namespace {

using enum JournalField;

enum class EKind { kText, kInteger, kTime };

struct SServerColumn {
    JournalField eField;
    EKind eKind;
    bool bRequired = false;
};

// Every field but the id (the server's local_id) and the station's identity, which lead the key.
// Times are timestamptz on the server and ISO 8601 text in the journal.
constexpr std::array<SServerColumn, kJournalFieldCount - 2> kColumns{{
    {StationName, EKind::kText},
    {StartedAt, EKind::kTime, true},
    {EndedAt, EKind::kTime},
    {FrontEnd, EKind::kText, true},
    {Port, EKind::kInteger},
    {Device, EKind::kText},
    {UsbSerial, EKind::kText},
    {UsbVendorId, EKind::kText},
    {UsbProductId, EKind::kText},
    {Image, EKind::kText},
    {ImageSize, EKind::kInteger},
    {ImageSha256, EKind::kText},
    {ImageVersion, EKind::kText},
    {OldImage, EKind::kText},
    {OldImageSha256, EKind::kText},
    {DownloadType, EKind::kText},
    {Outcome, EKind::kText, true},
    {Retransmissions, EKind::kInteger},
    {SupervisionExpiries, EKind::kInteger},
    {BlocksSent, EKind::kInteger},
    {BytesWritten, EKind::kInteger},
    {DurationMs, EKind::kInteger},
    {BytesPerSecond, EKind::kInteger},
    {LastRedLine, EKind::kText},
    {Slot, EKind::kText},
    {SlotLabel, EKind::kText},
    {Opened, EKind::kText},
    {HookStatus, EKind::kText},
}};

const char* TypeName(EKind eKind)
{
    switch (eKind) {
    case EKind::kInteger: return "bigint";
    case EKind::kTime: return "timestamp with time zone";
    case EKind::kText: break;
    }
    return "text";
}

std::string Column(const SServerColumn& column) { return std::string(FieldInfo(column.eField).strColumn); }

// 1: the runs. 2: what the history and the report look runs up by.
std::string Step(int nStep)
{
    if (nStep == 1) {
        std::string strSql = "CREATE TABLE kestrel_runs (station_id text NOT NULL, local_id bigint NOT NULL, revision bigint NOT NULL";
        for (const SServerColumn& column : kColumns)
            strSql += ", " + Column(column) + " " + TypeName(column.eKind) + (column.bRequired ? " NOT NULL" : "");
        return strSql + ", forwarded_at timestamp with time zone NOT NULL DEFAULT now(), PRIMARY KEY (station_id, local_id))";
    }
    return "CREATE INDEX kestrel_runs_by_start ON kestrel_runs (started_at);"
           "CREATE INDEX kestrel_runs_by_station ON kestrel_runs (station_name, started_at)";
}

// What the table must have, column by column; more columns are the fleet's own business.
std::map<std::string, std::string> ExpectedShape()
{
    std::map<std::string, std::string> shape{
        {"station_id", "text"}, {"local_id", "bigint"}, {"revision", "bigint"}, {"forwarded_at", "timestamp with time zone"}};
    for (const SServerColumn& column : kColumns) shape[Column(column)] = TypeName(column.eKind);
    return shape;
}

bool CheckShape(CPgConnection& pg, PgClock::time_point deadline, std::string& strError)
{
    const auto optColumns = pg.Exec("SELECT column_name, data_type FROM information_schema.columns"
                                    " WHERE table_schema = current_schema() AND table_name = 'kestrel_runs'",
                                    {}, deadline);
    if (!optColumns) {
        strError = pg.LastError();
        return false;
    }
    std::map<std::string, std::string> found;
    for (int n = 0; n < optColumns->Rows(); ++n) found[optColumns->Text(n, 0)] = optColumns->Text(n, 1);
    std::string strMissing, strOtherTypes;
    for (const auto& [strName, strType] : ExpectedShape()) {
        const auto it = found.find(strName);
        if (it == found.end()) strMissing += (strMissing.empty() ? "" : ", ") + strName;
        else if (it->second != strType) strOtherTypes += "; column " + strName + " is " + it->second + ", not " + strType;
    }
    if (strMissing.empty() && strOtherTypes.empty()) return true;
    strError = "the server's table kestrel_runs has another shape" + (strMissing.empty() ? "" : ": it has no " + strMissing) + strOtherTypes;
    return false;
}

std::optional<int> SchemaVersion(CPgConnection& pg, PgClock::time_point deadline, std::string& strError)
{
    const auto optFound = pg.Exec("SELECT to_regclass('kestrel_schema') IS NOT NULL, to_regclass('kestrel_runs') IS NOT NULL", {}, deadline);
    if (!optFound) {
        strError = pg.LastError();
        return std::nullopt;
    }
    if (optFound->Text(0, 0) != "t") {
        if (optFound->Text(0, 1) == "t") {
            strError = "the server has a table kestrel_runs that Kestrel did not make";
            return std::nullopt;
        }
        return 0;
    }
    const auto optVersion = pg.Exec("SELECT max(version) FROM kestrel_schema", {}, deadline);
    if (!optVersion || optVersion->IsNull(0, 0)) {
        strError = optVersion ? "the server's kestrel_schema table is empty" : pg.LastError();
        return std::nullopt;
    }
    return std::stoi(optVersion->Text(0, 0));
}

}  // namespace

bool PrepareFleetSchema(CPgConnection& pg, PgClock::time_point deadline, std::string& strError, int toVersion)
{
    const auto exec = [&](const std::string& strSql) {
        if (pg.Exec(strSql, {}, deadline)) return true;
        strError = pg.LastError();
        return false;
    };
    // Read first without a lock: a station role that may not create tables needs none.
    std::optional<int> optVersion = SchemaVersion(pg, deadline, strError);
    if (!optVersion) return false;
    if (*optVersion < toVersion) {
        if (!exec("BEGIN") || !exec("SELECT pg_advisory_xact_lock(1263752274)")) return false;
        const auto rollback = [&] {
            const std::string strKept = strError;
            pg.Exec("ROLLBACK", {}, deadline);
            strError = "the server's schema cannot be made: " + strKept;
            return false;
        };
        optVersion = SchemaVersion(pg, deadline, strError);
        if (!optVersion) return rollback();
        if (*optVersion == 0 && !exec("CREATE TABLE kestrel_schema (version integer NOT NULL); INSERT INTO kestrel_schema VALUES (0)"))
            return rollback();
        for (int nStep = *optVersion + 1; nStep <= toVersion; ++nStep)
            if (!exec(Step(nStep))) return rollback();
        if (!exec("UPDATE kestrel_schema SET version = " + std::to_string(std::max(*optVersion, toVersion))) || !exec("COMMIT"))
            return rollback();
    }
    return CheckFleetSchema(pg, deadline, strError);
}

bool CheckFleetSchema(CPgConnection& pg, PgClock::time_point deadline, std::string& strError)
{
    const std::optional<int> optVersion = SchemaVersion(pg, deadline, strError);
    if (!optVersion) return false;
    if (*optVersion == 0) {
        strError = "the server has no runs of any station yet";
        return false;
    }
    if (*optVersion > kFleetSchemaVersion) {
        strError = "the server's schema is version " + std::to_string(*optVersion) + ", from a newer Kestrel";
        return false;
    }
    return CheckShape(pg, deadline, strError);
}

bool ForwardRows(CPgConnection& pg, const std::vector<CJournal::SRevisedRow>& rows, const std::string& strStationName,
                 PgClock::time_point deadline, std::string& strError)
{
    std::string strColumns = "station_id, local_id, revision";
    std::string strValues = "$1, $2, $3";
    std::string strUpdates = "revision = EXCLUDED.revision, forwarded_at = now()";
    int nParam = 3;
    for (const SServerColumn& column : kColumns) {
        const std::string strName = Column(column);
        strColumns += ", " + strName;
        strValues += ", $" + std::to_string(++nParam);
        strUpdates += ", " + strName + " = EXCLUDED." + strName;
    }
    const std::string strSql = "INSERT INTO kestrel_runs (" + strColumns + ") VALUES (" + strValues +
                               ") ON CONFLICT (station_id, local_id) DO UPDATE SET " + strUpdates +
                               " WHERE kestrel_runs.revision < EXCLUDED.revision";
    if (!pg.Exec("BEGIN", {}, deadline)) {
        strError = pg.LastError();
        return false;
    }
    for (const CJournal::SRevisedRow& revised : rows) {
        std::vector<PgParam> params{revised.row.Text(StationId), revised.row.Text(Id), std::to_string(revised.nRevision)};
        for (const SServerColumn& column : kColumns) {
            std::string strValue = revised.row.Text(column.eField);
            if (column.eField == StationName && strValue.empty()) strValue = strStationName;
            params.push_back(strValue.empty() && !column.bRequired ? PgParam() : PgParam(std::move(strValue)));
        }
        if (!pg.Exec(strSql, params, deadline)) {
            strError = pg.LastError();
            pg.Exec("ROLLBACK", {}, deadline);
            return false;
        }
    }
    if (!pg.Exec("COMMIT", {}, deadline)) {
        strError = pg.LastError();
        return false;
    }
    return true;
}

std::optional<std::vector<CJournalRow>> FleetRuns(CPgConnection& pg, const SFleetFilter& filter, PgClock::time_point deadline,
                                                  std::string& strError)
{
    const auto shown = [](const SServerColumn& column) {
        const std::string strName = Column(column);
        return column.eKind == EKind::kTime
                   ? "to_char(" + strName + " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')"
                   : strName;
    };
    std::string strSelect = "local_id, station_id";
    for (const SServerColumn& column : kColumns) strSelect += ", " + shown(column);
    std::string strWhere;
    std::vector<PgParam> params;
    const auto condition = [&](const char* pszTest, std::string strValue) {
        params.push_back(std::move(strValue));
        strWhere += (strWhere.empty() ? " WHERE " : " AND ") + std::string(pszTest) + std::to_string(params.size());
    };
    const SJournalFilter& journal = filter.journal;
    if (journal.optId) condition("local_id = $", std::to_string(*journal.optId));
    if (journal.optPort) condition("port = $", std::to_string(*journal.optPort));
    if (!journal.strDevice.empty()) condition("device = $", journal.strDevice);
    if (!journal.strSince.empty()) condition("started_at >= $", journal.strSince);
    if (!journal.strOutcome.empty()) condition("outcome = $", journal.strOutcome);
    if (!filter.strStation.empty()) condition("station_name = $", filter.strStation);
    std::string strSql = "SELECT " + strSelect + " FROM kestrel_runs" + strWhere + " ORDER BY started_at DESC, station_id, local_id DESC";
    if (journal.nLimit >= 0) strSql += " LIMIT " + std::to_string(journal.nLimit);
    const auto optResult = pg.Exec(strSql, params, deadline);
    if (!optResult) {
        strError = pg.LastError();
        return std::nullopt;
    }
    std::vector<CJournalRow> rows;
    for (int nRow = 0; nRow < optResult->Rows(); ++nRow) {
        CJournalRow row;
        row.Set(Id, std::stoll(optResult->Text(nRow, 0)));
        row.Set(StationId, optResult->Text(nRow, 1));
        int nColumn = 2;
        for (const SServerColumn& column : kColumns) {
            const std::optional<std::string> optValue = optResult->Value(nRow, nColumn++);
            if (!optValue) continue;
            row.Set(column.eField, column.eKind == EKind::kInteger ? JournalValue(std::stoll(*optValue)) : JournalValue(*optValue));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<std::vector<CJournalRow>> ReadFleetRuns(const std::string& strUrl, const SFleetFilter& filter, std::string& strError,
                                                      const CPgInterrupt& interrupt)
{
    CPgConnection pg(interrupt);
    const PgClock::time_point deadline = PgClock::now() + std::chrono::milliseconds(kFleetReadMs);
    if (!pg.Connect(strUrl, deadline)) {
        strError = RedactedConnection(strUrl) + " cannot be reached: " + pg.LastError();
        return std::nullopt;
    }
    if (!CheckFleetSchema(pg, deadline, strError)) {
        strError = RedactedConnection(strUrl) + ": " + strError;
        return std::nullopt;
    }
    return FleetRuns(pg, filter, deadline, strError);
}

}  // namespace kestrel
