// kestrel-cli: the download engine without a window, for factory lines and scripts.

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cli_output.h"
#include "commands.h"
#include "exit_codes.h"
#include "services/port_options.h"
#include "services/settings_store.h"

namespace kestrel {
namespace {

const char kUsage[] =
    "usage: kestrel-cli [--port N|COMn|/dev/PATH|N-M]... [--baud 57600|115200] [--json] COMMAND ...\n"
    "  flash IMAGE --type NAME|0-6 [--old OLD] [--font-address HEX] [--yes]\n"
    "  station IMAGE --type NAME|0-6 [--old OLD] [--font-address HEX] [--yes] [--count N]\n"
    "  info IMAGE\n"
    "  compare NEW OLD\n"
    "  request start | jump | erase START LENGTH\n"
    "  todm\n"
    "  history [--json] [--limit N] [--port P] [--since DATE] [--outcome O] [--csv FILE] | history show ID\n";

struct GlobalOptions {
    std::vector<std::string> ports;  // as given, ranges not yet expanded
    std::string strBaud;
    bool bJson = false;
};

// Takes the options in front of the command; false on an unknown or incomplete one.
bool ParseGlobalOptions(int argc, char** argv, int& index, GlobalOptions& options, std::string& error)
{
    for (; index < argc && std::strncmp(argv[index], "--", 2) == 0; ++index) {
        const std::string opt = argv[index];
        if (opt == "--json") {
            options.bJson = true;
        } else if (opt == "--port" || opt == "--baud") {
            if (index + 1 >= argc) {
                error = opt + " needs a value.";
                return false;
            }
            if (opt == "--port")
                options.ports.emplace_back(argv[++index]);
            else
                options.strBaud = argv[++index];
        } else {
            error = "unknown option " + opt;
            return false;
        }
    }
    return true;
}

int Main(int argc, char** argv)
{
    GlobalOptions global;
    std::string error;
    int index = 1;
    CCliOutput out(stdout, stderr, false);
    if (!ParseGlobalOptions(argc, argv, index, global, error) || index >= argc) {
        if (!error.empty()) out.Error(error);
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    CCliOutput output(stdout, stderr, global.bJson);
    const std::string command = argv[index++];
    const CliArgs args(argv + index, argv + argc);

    const SettingLookup settings = [](const std::string& name) { return ReadText(name); };
    std::vector<CPortOptions> ports;
    if (!ResolvePortList(global.ports, global.strBaud, settings, ports, error)) {
        output.Error(error);
        return kExitUsage;
    }
    const auto onePort = [&](auto run) {
        if (ports.size() > 1) {
            output.Error(command + " takes one port.");
            return static_cast<int>(kExitUsage);
        }
        return run(output, ports.front(), args);
    };
    if (command == "request") return onePort(RunRequestCommand);
    if (command == "todm") return onePort(RunToDmCommand);
    if (command == "flash") return ports.size() > 1 ? RunFlashOnPorts(output, ports, args) : onePort(RunFlashCommand);
    if (command == "station") return RunStationCommand(output, ports, args);
    if (command == "info") return RunInfoCommand(output, args);
    if (command == "compare") return RunCompareCommand(output, args);
    if (command == "history") return RunHistoryCommand(output, args);

    output.Error("unknown command " + command);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) { return kestrel::Main(argc, argv); }
