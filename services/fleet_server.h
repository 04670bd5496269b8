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

}  // namespace kestrel
