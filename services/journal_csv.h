#pragma once
// Runs of the journal as a CSV file: a header line of column names, then one line per run
// with every field (RFC 4180 quoting, UTF-8).

#include <string>
#include <vector>

#include "services/journal_fields.h"

namespace kestrel {

std::string JournalCsv(const std::vector<CJournalRow>& rows);
// Replaces the file only once the whole text is written: a failure leaves the file as it was
// and nothing beside it. False with a message in strError when it cannot be written.
bool WriteJournalCsv(const std::string& strPath, const std::vector<CJournalRow>& rows, std::string& strError);

}  // namespace kestrel
