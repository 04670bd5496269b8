// kestrel-cli history: the runs in the journal, newest first, or one run in full. It only reads
// the journal, so that a user who may not write it can read it too.

#include <string>
#include <vector>

#include "commands.h"
#include "protocol/exit_codes.h"
#include "history_args.h"
#include "history_format.h"
#include "services/journal.h"
#include "services/journal_csv.h"
#include "services/journal_files.h"

namespace kestrel {
namespace {

int ShowRun(CCliOutput& out, const std::vector<CJournalRow>& rows, int64_t nId, const std::string& strJournal)
{
    if (rows.empty()) {
        out.Error("There is no run " + std::to_string(nId) + " in " + strJournal + ".");
        return kExitFileError;
    }
    out.Text(HistoryDetails(rows.front()), false);
    out.Object(HistoryJson(rows.front()));
    return kExitOk;
}

int WriteCsv(CCliOutput& out, const std::vector<CJournalRow>& rows, const std::string& strCsv)
{
    std::string strError;
    if (!WriteJournalCsv(strCsv, rows, strError)) {
        out.Error(strError);
        return kExitFileError;
    }
    out.Text(std::to_string(rows.size()) + " runs written to " + strCsv);
    out.Object(CJsonObject().Add("event", "csv").Add("path", strCsv).Add("runs", static_cast<int64_t>(rows.size())));
    return kExitOk;
}

}  // namespace

int RunHistoryCommand(CCliOutput& out, const SHistoryArgs& args)
{
    const std::string strJournal = JournalFilePath();
    if (!args.strCsv.empty() && IsJournalFile(args.strCsv, strJournal)) {
        out.Error("--csv " + JournalFileRefusal(args.strCsv));
        return kExitUsage;
    }
    CJournal journal;
    if (!journal.OpenReadOnly(strJournal)) {
        out.Error(journal.LastError());
        return kExitFileError;
    }
    if (journal.NoJournalYet()) out.Error("There is no journal yet at " + strJournal + ".");
    const auto optRows = journal.Runs(args.filter);
    if (!optRows) {
        out.Error(journal.LastError());
        return kExitFileError;
    }
    if (args.filter.optId) return ShowRun(out, *optRows, *args.filter.optId, strJournal);
    if (!args.strCsv.empty()) return WriteCsv(out, *optRows, args.strCsv);
    out.Text(HistoryListing(*optRows), false);
    for (const CJournalRow& row : *optRows) out.Object(HistoryJson(row));
    return kExitOk;
}

}  // namespace kestrel
