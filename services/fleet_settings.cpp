#include "services/fleet_settings.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "services/settings_store.h"

namespace kestrel {

std::string ThisStationName()
{
    if (std::string strName = ReadText(kSettingStationName); !strName.empty()) return strName;
    char szHost[HOST_NAME_MAX + 1] = {};
    if (gethostname(szHost, sizeof szHost - 1) != 0) return "station";
    return szHost;
}

std::string FleetJournalUrl(const std::string& strGiven)
{
    if (!strGiven.empty()) return strGiven;
    if (const char* pszUrl = std::getenv("KESTREL_JOURNAL_URL"); pszUrl != nullptr && *pszUrl != '\0') return pszUrl;
    return ReadText(kSettingJournalUrl);
}

}  // namespace kestrel
