// kestrel-cli history: the runs in the journal, newest first, or one run in full. It only reads
// the journal, so that a user who may not write it can read it too.

#include <string>
#include <vector>

#include "commands.h"
#include "protocol/exit_codes.h"
#include "history_args.h"
#include "history_format.h"
#include "services/fleet_server.h"
#include "services/fleet_settings.h"
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

// The runs of every station on the fleet's server.
std::optional<std::vector<CJournalRow>> FleetRows(CCliOutput& out, const SHistoryArgs& args, int& nExit)
{
    const std::string strUrl = FleetJournalUrl(args.strJournalUrl);
    if (strUrl.empty()) {
        out.Error("--fleet needs the fleet's server: --journal-url, KESTREL_JOURNAL_URL or the JOURNAL_URL setting.");
        nExit = kExitUsage;
        return std::nullopt;
    }
    std::string strError;
    auto optRows = ReadFleetRuns(strUrl, {args.filter, args.strStation}, strError);
    if (!optRows) {
        out.Error("Fleet journal: " + strError);
        nExit = kExitFileError;
    }
    return optRows;
}

int Refusal(CCliOutput& out, const std::string& strWhat)
{
    out.Error(strWhat);
    return kExitUsage;
}

}  // namespace

int RunHistoryCommand(CCliOutput& out, const SHistoryArgs& args)
{
    const std::string strJournal = JournalFilePath();
    if (!args.strCsv.empty() && IsJournalFile(args.strCsv, strJournal)) return Refusal(out, "--csv " + JournalFileRefusal(args.strCsv));
    if (!args.strStation.empty() && !args.bFleet) return Refusal(out, "--station picks runs of the fleet: it goes with --fleet.");
    if (args.bFleet) {
        // A run's number is its station's: show reads this station's journal.
        if (args.filter.optId) return Refusal(out, "history show reads this station's journal; --fleet lists.");
        int nExit = kExitOk;
        const auto optRows = FleetRows(out, args, nExit);
        if (!optRows) return nExit;
        if (!args.strCsv.empty()) return WriteCsv(out, *optRows, args.strCsv);
        out.Text(HistoryListing(*optRows, true), false);
        for (const CJournalRow& row : *optRows) out.Object(HistoryJson(row));
        return kExitOk;
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
