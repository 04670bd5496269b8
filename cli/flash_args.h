#pragma once
// The arguments of flash and station, and how a run's outcome ends the command.

#include <cstdint>
#include <optional>
#include <string>

#include "json_writer.h"
#include "protocol/download_run.h"
#include "protocol/download_view.h"

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
};

// Adds the image and the options of flash to the command, parsed into parsed; withCount
// adds station's --count.
void AddFlashOptions(CLI::App& command, SFlashArgs& parsed, bool withCount);

struct SEnding {
    const char* result;  // the JSON end event's "result"
    int exitCode;
};
SEnding EndingOf(RunOutcome outcome);

// A run's end event also tells of a backup that was not made ("backup_error").
CJsonObject& AddBackupFailure(CJsonObject& endEvent, const SRunStatistics& stats);

// Of several ports' exit codes, the one the command ends with: the station's own troubles
// (port 4, file 3) before the handsets' (5, then 6), then an interruption (130), then 0.
int MostSevereExitCode(int a, int b);

}  // namespace kestrel
