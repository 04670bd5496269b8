#pragma once
// The commands of kestrel-cli. Each takes the arguments after its name and returns an exit code.

#include <string>
#include <vector>

#include "cli_output.h"
#include "services/port_options.h"

namespace kestrel {

using CliArgs = std::vector<std::string>;

int RunRequestCommand(CCliOutput& out, const CPortOptions& port, const CliArgs& args);
int RunToDmCommand(CCliOutput& out, const CPortOptions& port, const CliArgs& args);
int RunInfoCommand(CCliOutput& out, const CliArgs& args);
int RunCompareCommand(CCliOutput& out, const CliArgs& args);
int RunFlashCommand(CCliOutput& out, const CPortOptions& port, const CliArgs& args);
// flash with several ports: one run per port, all at once.
int RunFlashOnPorts(CCliOutput& out, const std::vector<CPortOptions>& ports, const CliArgs& args);
// Flashes handsets as they appear on the ports, until Ctrl+C or --count units.
int RunStationCommand(CCliOutput& out, const std::vector<CPortOptions>& ports, const CliArgs& args);
int RunHistoryCommand(CCliOutput& out, const CliArgs& args);

}  // namespace kestrel
