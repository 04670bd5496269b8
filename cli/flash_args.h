#pragma once
// The arguments of flash and station, and how a run's outcome ends the command.

#include <cstdint>
#include <optional>
#include <string>

#include "commands.h"
#include "protocol/download_view.h"

namespace kestrel {

inline constexpr const char* kFlashUsage =
    "usage: kestrel-cli flash IMAGE --type NAME|0-6 [--old OLD] [--font-address HEX] [--yes]";
inline constexpr const char* kStationUsage =
    "usage: kestrel-cli station IMAGE --type NAME|0-6 [--old OLD] [--font-address HEX] [--yes] [--count N]";

struct FlashArgs {
    std::string strImage;
    std::string strOld;
    std::optional<int> type;
    std::optional<uint32_t> fontAddress;
    bool bYes = false;
    std::optional<int> count;  // station: units to flash before ending
};

// usage is the command's usage line; withCount takes --count N.
bool ParseFlashArgs(const CliArgs& args, const char* usage, bool withCount, FlashArgs& parsed, std::string& error);

struct Ending {
    const char* result;  // the JSON end event's "result"
    int exitCode;
};
Ending EndingOf(RunOutcome outcome);

// Of several ports' exit codes, the one the command ends with: the station's own troubles
// (port 4, file 3) before the handsets' (5, then 6), then an interruption (130), then 0.
int MostSevereExitCode(int a, int b);

}  // namespace kestrel
