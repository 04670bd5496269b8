#pragma once
// The fleet's record on a PostgreSQL server: one table of every station's runs, keyed by the
// station's identity and the run's id in that station's journal. The schema has versioned
// steps of its own, made by the first role that connects and may; a table of another shape
// is an error, never changed.

#include <optional>
#include <string>
#include <vector>

#include "services/journal.h"
#include "services/pg_connection.h"

namespace kestrel {

inline constexpr int kFleetSchemaVersion = 2;

// Brings the server's schema from its version up to toVersion (under a lock, so that stations
// that connect at once do it once), then checks the runs table has the shape this program
// writes. False with strError.
bool PrepareFleetSchema(CPgConnection& pg, PgClock::time_point deadline, std::string& strError,
                        int toVersion = kFleetSchemaVersion);

// For a reader, which may not change the schema: the server's is this program's or an older
// one whose table has the shape this program reads. False with strError, also for a server
// without the fleet's tables.
bool CheckFleetSchema(CPgConnection& pg, PgClock::time_point deadline, std::string& strError);

// Sends the rows in one transaction. A row the server has is updated only by a later revision,
// so that a row sent twice is one row. strStationName stands in for rows saved before
// stations had names.
bool ForwardRows(CPgConnection& pg, const std::vector<CJournal::SRevisedRow>& rows, const std::string& strStationName,
                 PgClock::time_point deadline, std::string& strError);

struct SFleetFilter {
    SJournalFilter journal;  // its id is the run's id in its station's journal
    std::string strStation;  // a station's name; "" for all
};
// Newest first, each with its station's identity and name.
std::optional<std::vector<CJournalRow>> FleetRuns(CPgConnection& pg, const SFleetFilter& filter, PgClock::time_point deadline,
                                                  std::string& strError);

// How long a reader waits for the server, from connecting to the last row.
inline constexpr int kFleetReadMs = 10000;
// Connects to the server at strUrl, checks its schema and reads the runs: for the history, the
// report and the History dialog. Nullopt with strError, which never holds the password.
// interrupt may cut the wait short from another thread.
std::optional<std::vector<CJournalRow>> ReadFleetRuns(const std::string& strUrl, const SFleetFilter& filter, std::string& strError,
                                                      const CPgInterrupt& interrupt = CPgInterrupt());

}  // namespace kestrel
