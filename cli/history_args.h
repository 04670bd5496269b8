#pragma once
// The options of kestrel-cli history, and of history show ID.

#include <string>

#include "services/journal.h"

namespace CLI {
class App;
}

namespace kestrel {

struct SHistoryArgs {
    SJournalFilter filter;  // show sets optId and nothing else
    std::string strCsv;
    bool bFleet = false;       // the fleet's server instead of this station's journal
    std::string strStation;    // --fleet: one station's runs
    std::string strJournalUrl; // --journal-url, a global option
};

// Adds history's options and its show command to the command, parsed into parsed.
void AddHistoryOptions(CLI::App& command, SHistoryArgs& parsed);

}  // namespace kestrel
