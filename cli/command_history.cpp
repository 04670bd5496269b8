// kestrel-cli history: the runs in the journal, newest first, or one run in full. It only reads
// the journal, so that a user who may not write it can read it too.

#include <QDateTime>
#include <algorithm>
#include <cstdio>

#include "commands.h"
#include "exit_codes.h"
#include "history_format.h"
#include "services/journal.h"
#include "services/journal_csv.h"
#include "services/journal_files.h"

namespace kestrel {
namespace {

const char kHistoryUsage[] =
    "usage: kestrel-cli history [--json] [--limit N] [--port N|COMn|/dev/PATH] [--since DATE] [--outcome O] [--csv FILE]\n"
    "       kestrel-cli history show ID";

struct SHistoryArgs {
    SJournalFilter filter;
    std::string strCsv;
    std::optional<int64_t> optShowId;
    bool bJson = false;
};

// A date or a time in ISO 8601 ("2026-12-10", "2026-12-10T08:30", "...+09:00"), UTC unless it
// says otherwise, as the journal writes its times; empty when it is none.
std::string SinceUtc(const std::string& strText)
{
    const QString text = QString::fromStdString(strText);
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid()) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (!date.isValid()) return {};
        time = date.startOfDay(Qt::UTC);
    }
    if (time.timeSpec() == Qt::LocalTime) time.setTimeSpec(Qt::UTC);
    return time.toUTC().toString(Qt::ISODateWithMs).toStdString();
}

bool ParseHistoryArgs(const CliArgs& args, SHistoryArgs& parsed, std::string& error)
{
    std::size_t i = 0;
    if (!args.empty() && args[0] == "show") {
        const auto id = args.size() >= 2 ? ParseDecimal(args[1]) : std::nullopt;
        if (!id) error = kHistoryUsage;
        parsed.optShowId = id;
        i = 2;
    }
    for (; i < args.size() && error.empty(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--json") {
            parsed.bJson = true;
        } else if (a == "--limit" && hasValue) {
            const auto limit = ParseDecimal(args[++i]);
            if (!limit) error = "--limit takes a number of runs.";
            parsed.filter.nLimit = static_cast<int>(limit.value_or(0));
        } else if (a == "--port" && hasValue) {
            const std::string& port = args[++i];
            if (!port.empty() && port[0] == '/') {
                parsed.filter.strDevice = port;
            } else {
                parsed.filter.optPort = ParsePortNumber(port);
                if (!parsed.filter.optPort) error = "--port takes a number from 1 to 255, COMn or a device path.";
            }
        } else if (a == "--since" && hasValue) {
            parsed.filter.strSince = SinceUtc(args[++i]);
            if (parsed.filter.strSince.empty()) error = "--since takes a date or time in ISO 8601, such as 2026-12-10 or 2026-12-10T08:30.";
        } else if (a == "--outcome" && hasValue) {
            parsed.filter.strOutcome = args[++i];
            if (!IsJournalOutcome(parsed.filter.strOutcome))
                error = "--outcome takes completed, nothing-to-do, stopped, handset-error, no-response, port-error, "
                        "file-error, refused, running or interrupted.";
        } else if (a == "--csv" && hasValue) {
            parsed.strCsv = args[++i];
        } else {
            error = "history: unknown or incomplete option " + a + "\n" + kHistoryUsage;
        }
    }
    return error.empty();
}

}  // namespace

int RunHistoryCommand(CCliOutput& globalOut, const CliArgs& args)
{
    if (std::find(args.begin(), args.end(), "--help") != args.end() || std::find(args.begin(), args.end(), "-h") != args.end()) {
        std::printf("%s\n", kHistoryUsage);
        return kExitOk;
    }
    SHistoryArgs parsed;
    std::string error;
    if (!ParseHistoryArgs(args, parsed, error)) {
        globalOut.Error(error);
        return kExitUsage;
    }
    CCliOutput jsonOut(stdout, stderr, true);
    CCliOutput& out = parsed.bJson ? jsonOut : globalOut;

    const std::string strPath = JournalFilePath();
    if (!parsed.strCsv.empty() && IsJournalFile(parsed.strCsv, strPath)) {
        out.Error("--csv " + JournalFileRefusal(parsed.strCsv));
        return kExitUsage;
    }
    CJournal journal;
    if (!journal.OpenReadOnly(strPath)) {
        out.Error(journal.LastError());
        return kExitFileError;
    }
    if (journal.NoJournalYet()) out.Error("There is no journal yet at " + strPath + ".");
    parsed.filter.optId = parsed.optShowId;
    const auto optRows = journal.Runs(parsed.filter);
    if (!optRows) {
        out.Error(journal.LastError());
        return kExitFileError;
    }
    const std::vector<CJournalRow>& rows = *optRows;
    if (parsed.optShowId) {
        if (rows.empty()) {
            out.Error("There is no run " + std::to_string(*parsed.optShowId) + " in " + strPath + ".");
            return kExitFileError;
        }
        out.Text(HistoryDetails(rows.front()), false);
        out.Object(HistoryJson(rows.front()));
        return kExitOk;
    }

    if (!parsed.strCsv.empty()) {
        if (!WriteJournalCsv(parsed.strCsv, rows, error)) {
            out.Error(error);
            return kExitFileError;
        }
        out.Text(std::to_string(rows.size()) + " runs written to " + parsed.strCsv);
        out.Object(CJsonObject().Add("event", "csv").Add("path", parsed.strCsv).Add("runs", static_cast<int64_t>(rows.size())));
        return kExitOk;
    }
    out.Text(HistoryListing(rows), false);
    for (const CJournalRow& row : rows) out.Object(HistoryJson(row));
    return kExitOk;
}

}  // namespace kestrel
