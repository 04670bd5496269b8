#pragma once
// How a SELECT reads the journal's columns into the fields: a column that a later schema version
// brought reads as absent, and a running row whose process has died reads as interrupted.

#include <string>

#include "services/sqlite_db.h"

namespace kestrel {

// The select list of JournalFields(), in order, each expression named after its column, for a
// journal of schema version nVersion; it calls an SQL function that this adds to the
// connection. False, with strError, when the runs table or one of the version's columns is
// missing.
bool JournalSelectList(CSqliteDb& db, int nVersion, std::string& strSelect, std::string& strError);

}  // namespace kestrel
