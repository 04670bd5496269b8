// kestrel-cli journal status: what this station's journal holds for the fleet's server. It only
// reads the journal.

#include "commands.h"
#include "protocol/exit_codes.h"
#include "services/fleet_settings.h"
#include "services/journal.h"
#include "services/pg_connection.h"

namespace kestrel {
namespace {

CJsonObject& AddText(CJsonObject& object, const char* pszKey, const std::string& strValue)
{
    return strValue.empty() ? object.AddNull(pszKey) : object.Add(pszKey, strValue);
}

}  // namespace

int RunJournalStatusCommand(CCliOutput& out, const std::string& strJournalUrl)
{
    const std::string strJournal = JournalFilePath();
    CJournal journal;
    if (!journal.OpenReadOnly(strJournal)) {
        out.Error(journal.LastError());
        return kExitFileError;
    }
    const auto optForwarding = journal.Forwarding();
    if (!optForwarding) {
        out.Error(journal.LastError());
        return kExitFileError;
    }
    const CJournal::SForwarding& forwarding = *optForwarding;
    const std::string strUrl = FleetJournalUrl(strJournalUrl);
    const std::string strServer = strUrl.empty() ? "" : RedactedConnection(strUrl);
    const std::string strName = ThisStationName();

    std::string strText = "Journal:      " + strJournal + (journal.NoJournalYet() ? " (none yet)" : "") + "\n";
    strText += "Station:      " + strName + (forwarding.strStationId.empty() ? "" : " (" + forwarding.strStationId + ")") + "\n";
    strText += "Fleet server: " + (strServer.empty() ? std::string("none set") : strServer) + "\n";
    strText += "Waiting:      " + std::to_string(forwarding.nWaiting) + (forwarding.nWaiting == 1 ? " run" : " runs") +
               " not forwarded yet\n";
    strText += "Last attempt: " + (forwarding.strAttemptedAt.empty() ? std::string("none")
                                   : forwarding.strAttemptedAt + (forwarding.strError.empty() ? ", succeeded" : ", failed: " + forwarding.strError)) +
               "\n";
    out.Text(strText, false);
    CJsonObject object;
    object.Add("event", "journal_status").Add("path", strJournal).Add("station_name", strName);
    AddText(object, "station_id", forwarding.strStationId);
    AddText(object, "server", strServer);
    object.Add("waiting", forwarding.nWaiting);
    AddText(object, "last_attempt_at", forwarding.strAttemptedAt);
    AddText(object, "last_error", forwarding.strError);
    out.Object(object);
    return kExitOk;
}

}  // namespace kestrel
