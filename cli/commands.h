#pragma once
// The commands of kestrel-cli, run once the command line is parsed. Each returns an exit code.

#include <string>
#include <vector>

#include "cli_output.h"
#include "services/port_options.h"

namespace kestrel {

struct SFlashArgs;
struct SHistoryArgs;

// The words after a command's name that the command reads itself.
using CliArgs = std::vector<std::string>;

int RunRequestCommand(CCliOutput& out, const CPortOptions& port, const CliArgs& args);
int RunToDmCommand(CCliOutput& out, const CPortOptions& port);
int RunInfoCommand(CCliOutput& out, const CliArgs& args);
int RunCompareCommand(CCliOutput& out, const CliArgs& args);
// One run per port, all at once.
int RunFlashCommand(CCliOutput& out, const std::vector<CPortOptions>& ports, const SFlashArgs& args);
// Flashes handsets as they appear on the ports, until Ctrl+C or --count units.
int RunStationCommand(CCliOutput& out, const std::vector<CPortOptions>& ports, const SFlashArgs& args);
// The runs of the journal, or one of them in full; it only reads the journal.
int RunHistoryCommand(CCliOutput& out, const SHistoryArgs& args);
// The station's identity and name, its fleet server, the runs that wait for it and how the
// last attempt to reach it went.
int RunJournalStatusCommand(CCliOutput& out, const std::string& strJournalUrl);
// The serial ports there are now, with the COM number and the SLOT<n> setting that lead to each.
int RunPortsCommand(CCliOutput& out, const SettingLookup& settings);

}  // namespace kestrel
