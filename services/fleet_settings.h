#pragma once
// Where a station stands in the fleet: its name and the server its journal goes to.

#include <string>

namespace kestrel {

// The STATION_NAME setting, else the host's name.
std::string ThisStationName();
// The libpq connection URI of the fleet's server: strGiven (a command line's), else the
// KESTREL_JOURNAL_URL variable, else the JOURNAL_URL setting; "" for none.
std::string FleetJournalUrl(const std::string& strGiven = {});

}  // namespace kestrel
