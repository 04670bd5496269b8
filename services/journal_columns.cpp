#include "services/journal_columns.h"

#include <set>

#include "services/journal_fields.h"
#include "services/process_owner.h"

namespace kestrel {
namespace {

constexpr char kOwnerAliveFunction[] = "kestrel_owner_alive";

// kestrel_owner_alive(owner): whether the process that opened a row still runs.
void OwnerAlive(sqlite3_context* pContext, int, sqlite3_value** ppArgs)
{
    const auto* pszOwner = reinterpret_cast<const char*>(sqlite3_value_text(ppArgs[0]));
    sqlite3_result_int(pContext, pszOwner != nullptr && IsOwnerAlive(pszOwner) ? 1 : 0);
}

// A reader may not write the journal, so it says what the next writer will mark.
std::string ShownOutcome()
{
    return "CASE WHEN outcome = '" + std::string(kOutcomeRunning) + "' AND NOT " + kOwnerAliveFunction + "(owner) THEN '" +
           std::string(kOutcomeInterrupted) + "' ELSE outcome END";
}

}  // namespace

bool JournalSelectList(CSqliteDb& db, int nVersion, std::string& strSelect, std::string& strError)
{
    std::set<std::string, std::less<>> columns;
    CStatement table(db, "SELECT name FROM pragma_table_info('runs')");
    int nResult;
    while ((nResult = table.Step()) == SQLITE_ROW) columns.insert(table.Text(0));
    if (nResult != SQLITE_DONE) {
        strError = db.Error();
        return false;
    }
    if (columns.empty()) {
        strError = "it has no runs table";
        return false;
    }
    if (!columns.contains("owner")) {
        strError = "its runs table has no column owner";
        return false;
    }
    strSelect.clear();
    for (const SJournalFieldInfo& info : JournalFields()) {
        std::string strExpression(info.strColumn);
        if (info.nSchemaVersion > nVersion) {
            strExpression = "NULL";
        } else if (!columns.contains(info.strColumn)) {
            strError = "its runs table has no column " + std::string(info.strColumn);
            return false;
        } else if (info.eField == JournalField::Outcome) {
            strExpression = ShownOutcome();
        }
        strSelect += (strSelect.empty() ? "" : ", ") + strExpression + " AS " + std::string(info.strColumn);
    }
    nResult = sqlite3_create_function_v2(db.Get(), kOwnerAliveFunction, 1, SQLITE_UTF8, nullptr, OwnerAlive, nullptr, nullptr, nullptr);
    if (nResult != SQLITE_OK) {
        strError = db.Error();
        return false;
    }
    return true;
}

}  // namespace kestrel
