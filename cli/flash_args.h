#pragma once
// The arguments of flash and station.

#include <cstdint>
#include <optional>
#include <string>

#include "json_writer.h"
#include "protocol/download_run.h"
#include "protocol/download_view.h"
#include "protocol/run_ending.h"

namespace CLI {
class App;
}

namespace kestrel {

struct SFlashArgs {
    std::string strImage;
    std::string strOld;
    std::optional<int> type;
    std::optional<uint32_t> fontAddress;
    bool bYes = false;
    std::optional<int> count;  // station: units to flash before ending
    std::string strOnUnit;     // a shell command run after each unit
    std::string strJournalUrl; // --journal-url, a global option
};

// Adds the image and the options of flash to the command, parsed into parsed; withCount
// adds station's --count.
void AddFlashOptions(CLI::App& command, SFlashArgs& parsed, bool withCount);

// A run's end event also tells of a backup that was not made ("backup_error").
CJsonObject& AddBackupFailure(CJsonObject& endEvent, const SRunStatistics& stats);

}  // namespace kestrel
