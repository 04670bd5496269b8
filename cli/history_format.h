#pragma once
// The journal's runs as kestrel-cli history shows them: a listing with a header line, one run
// in full, or one JSON object per run.

#include <string>
#include <vector>

#include "json_writer.h"
#include "services/journal_fields.h"

namespace kestrel {

// In the listing and in full, control characters are escaped as TerminalSafe escapes them.

// The listed fields in aligned columns, "-" where a value is absent; the last column is not
// padded. The fleet's listing starts with the station.
std::string HistoryListing(const std::vector<CJournalRow>& rows, bool bWithStation = false);
// Every field on a line of its own: "Header: value".
std::string HistoryDetails(const CJournalRow& row);
// {"event":"run", every field by its column name, null where absent}
CJsonObject HistoryJson(const CJournalRow& row);

}  // namespace kestrel
