// kestrel-cli: the download engine without a window, for factory lines and scripts.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "checked_option.h"
#include "cli_output.h"
#include "commands.h"
#include "protocol/exit_codes.h"
#include "flash_args.h"
#include "history_args.h"
#include "kestrel_version.h"
#include "services/port_options.h"
#include "services/settings_store.h"

namespace kestrel {
namespace {

constexpr char kProgram[] = "kestrel-cli";

struct SGlobalOptions {
    std::vector<std::string> ports;  // as given, ranges not yet expanded
    std::string strBaud;
    bool bJson = false;
    std::string strJournalUrl;
};

// A command runs once the command line is parsed, with the ports it names when it uses any.
using CommandRun = std::function<int(CCliOutput&, const std::vector<CPortOptions>&)>;

struct SCommand {
    CLI::App* pParser;
    bool bUsesPorts;
    CommandRun run;
};

// Help as the manual page writes it: commands and arguments by their names.
class CHelpFormatter final : public CLI::Formatter {
public:
    CHelpFormatter()
    {
        label("SUBCOMMAND", "COMMAND");
        label("Positionals", "Arguments");
        label("REQUIRED", "");
    }
    std::string make_option_usage(const CLI::Option* pOption) const override
    {
        return pOption->get_positional() ? pOption->get_name() : CLI::Formatter::make_option_usage(pOption);
    }
    std::string make_option_opts(const CLI::Option* pOption) const override
    {
        return pOption->get_positional() ? std::string() : CLI::Formatter::make_option_opts(pOption);
    }
};

// The reason the parser gives, in the words this program has always used where it had some.
std::string ParseFailure(const CLI::App& cli, const CLI::ParseError& e)
{
    if (e.get_name() == "RequiredError" && cli.get_subcommands().empty()) {
        const std::vector<std::string> words = cli.remaining();
        if (words.empty()) return std::string("a command is missing (usage: ") + kProgram + " [OPTIONS] COMMAND ...)";
        return "unknown command " + words.front();
    }
    // "--port: 1 required PORT missing"
    const std::string what = e.what();
    if (e.get_name() == "ArgumentMismatch" && what.ends_with(" missing") && what.find(':') != std::string::npos)
        return what.substr(0, what.find(':')) + " needs a value.";
    return what;
}

// The one line that follows a usage error.
void HintAtHelp(const CLI::App& cli)
{
    std::string command = kProgram;
    for (const CLI::App* pSub : cli.get_subcommands()) command += " " + pSub->get_name();
    std::fprintf(stderr, "Try '%s --help' for more information.\n", command.c_str());
}

int OnePort(CCliOutput& out, const char* name, const std::vector<CPortOptions>& ports,
            const std::function<int(const CPortOptions&)>& run)
{
    if (ports.size() > 1) {
        out.Error(std::string(name) + " takes one port.");
        return kExitUsage;
    }
    return run(ports.front());
}

// Everything the parser fills in, and the commands it chooses from. The commands' handlers
// read the fields, so the whole lives as long as the command runs.
struct SCommandLine {
    CLI::App cli{"Writes a firmware image into a mobile handset over a serial line.", kProgram};
    SGlobalOptions global;
    SFlashArgs flash;
    SHistoryArgs history;
    CliArgs words;
    SettingLookup settings = StoredSettingLookup();
    std::vector<SCommand> commands;
};

// The program's name, version, help and footer.
void DescribeProgram(CLI::App& cli)
{
    cli.set_version_flag("--version", std::string(kProgram) + " " + KESTREL_VERSION_TEXT, "print the version and exit");
    cli.set_help_flag("-h,--help", "print this help and exit");
    cli.require_subcommand(1);
    cli.formatter(std::make_shared<CHelpFormatter>());
    cli.footer("--port and --baud default to the settings PORT and BAUD (COM1 and 115200 when unset).\n"
               "Exit codes: 0 completed or nothing to do, 2 usage, 3 image or file error, 4 port error,\n"
               "5 the handset reported an error, 6 no response, 130 interrupted. See kestrel-cli(1).");
}

// The options every command takes, before or after its name.
void AddGlobalOptions(CLI::App& cli, SGlobalOptions& global)
{
    cli.add_option("--port", global.ports,
                   "port: a COM number, COMn, a device path, usb:ID_PATH, SLOTn or a range N-M; may be repeated")
        ->type_name("N|COMn|PATH|N-M")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    cli.add_option("--baud", global.strBaud, "line speed of the download")->type_name("57600|115200");
    cli.add_flag("--json", global.bJson, "one JSON object per line on standard output");
    cli.add_option("--journal-url", global.strJournalUrl,
                   "the fleet's PostgreSQL server, a libpq connection URI (default: KESTREL_JOURNAL_URL, then the JOURNAL_URL setting)")
        ->type_name("URI")
        ->check(NotBlank("--journal-url"));
}

void AddCommands(SCommandLine& line)
{
    CLI::App& cli = line.cli;
    SFlashArgs& flash = line.flash;
    CliArgs& words = line.words;
    const SettingLookup& settings = line.settings;
    std::vector<SCommand>& commands = line.commands;
    const auto add = [&](const char* name, const char* about, bool usesPorts, CommandRun run) {
        CLI::App* pParser = cli.add_subcommand(name, about);
        pParser->group("Commands");
        pParser->fallthrough();  // the options above may also follow the command
        pParser->footer(std::string("--port, --baud and --json go before or after the command; see ") + kProgram +
                        " --help.");
        commands.push_back({pParser, usesPorts, std::move(run)});
        return pParser;
    };

    AddFlashOptions(*add("flash", "write an image into the handset on each port, all at once", true,
                         [&](CCliOutput& out, const std::vector<CPortOptions>& ports) {
                             return RunFlashCommand(out, ports, flash);
                         }),
                    flash, false);
    AddFlashOptions(*add("station", "flash handsets as they appear on the ports", true,
                         [&](CCliOutput& out, const std::vector<CPortOptions>& ports) {
                             return RunStationCommand(out, ports, flash);
                         }),
                    flash, true);
    add("info", "show an image's size, version and build-date code", false,
        [&](CCliOutput& out, const std::vector<CPortOptions>&) { return RunInfoCommand(out, words); })
        ->add_option("IMAGE", words, "the image file")
        ->required()
        ->type_name("");
    add("compare", "show the runs a CHANGE download of NEW over OLD writes", false,
        [&](CCliOutput& out, const std::vector<CPortOptions>&) { return RunCompareCommand(out, words); })
        ->add_option("NEW OLD", words, "the new and the old image")
        ->required()
        ->expected(2)
        ->type_name("");
    add("request", "send one framed request and name the reply", true,
        [&](CCliOutput& out, const std::vector<CPortOptions>& ports) {
            return OnePort(out, "request", ports, [&](const CPortOptions& port) { return RunRequestCommand(out, port, words); });
        })
        ->add_option("REQUEST", words, "start, jump, or erase START LENGTH (numbers in decimal or 0x hexadecimal)")
        ->required()
        ->expected(1, 3)
        ->type_name("");
    add("todm", "send the mode-switch command", true, [&](CCliOutput& out, const std::vector<CPortOptions>& ports) {
        return OnePort(out, "todm", ports, [&](const CPortOptions& port) { return RunToDmCommand(out, port); });
    });
    add("ports", "list the serial ports there are now, with their links, USB identity, COM number and slot", false,
        [&](CCliOutput& out, const std::vector<CPortOptions>&) { return RunPortsCommand(out, settings); });
    const std::vector<std::string>& ports = line.global.ports;
    CLI::App* pHistory = add("history", "list the runs of the journal, newest first, or show one in full", false,
                             [&](CCliOutput& out, const std::vector<CPortOptions>&) {
                                 // Before the command --port names a port to open, which history never does.
                                 if (!ports.empty()) {
                                     out.Error("history takes --port after its name, to pick the runs of a port.");
                                     return static_cast<int>(kExitUsage);
                                 }
                                 return RunHistoryCommand(out, line.history);
                             });
    pHistory->footer("--json goes before or after the command; see " + std::string(kProgram) + " --help.");
    AddHistoryOptions(*pHistory, line.history);
    CLI::App* pJournal = add("journal", "what this station's journal holds for the fleet's server", false,
                             [&](CCliOutput& out, const std::vector<CPortOptions>&) {
                                 return RunJournalStatusCommand(out, line.history.strJournalUrl);
                             });
    pJournal->add_subcommand("status", "how many runs wait to be forwarded, and how the last attempt went")->fallthrough();
    pJournal->require_subcommand(1);
}

// Runs the command the parser chose, with the ports it names when it uses any.
int RunChosenCommand(SCommandLine& line)
{
    const CLI::App& cli = line.cli;
    const SGlobalOptions& global = line.global;
    const SettingLookup& settings = line.settings;
    const std::vector<SCommand>& commands = line.commands;
    line.flash.strJournalUrl = global.strJournalUrl;
    line.history.strJournalUrl = global.strJournalUrl;
    CCliOutput output(stdout, stderr, global.bJson);
    const SCommand& command = *std::find_if(commands.begin(), commands.end(), [&](const SCommand& c) {
        return c.pParser == cli.get_subcommands().front();
    });
    std::vector<CPortOptions> ports;
    std::string error;
    if (command.bUsesPorts) {
        // The commands with a port read settings; of the others only ports does, and it says so itself.
        if (const std::string problem = SettingsFileProblem(); !problem.empty()) output.Error(problem);
        if (!ResolvePortList(global.ports, global.strBaud, settings, ports, error)) {
            output.Error(error);
            HintAtHelp(cli);
            return kExitUsage;
        }
    }
    const int exitCode = command.run(output, ports);
    if (exitCode == kExitUsage) HintAtHelp(cli);
    return exitCode;
}

int Main(int argc, char** argv)
{
    // A reader that goes away (`| head`) must not end a flash: writes then fail with EPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    SCommandLine line;
    DescribeProgram(line.cli);
    AddGlobalOptions(line.cli, line.global);
    AddCommands(line);
    CLI::App& cli = line.cli;
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return cli.exit(e);  // --help, --version
        std::fprintf(stderr, "%s: %s\n", kProgram, ParseFailure(cli, e).c_str());
        HintAtHelp(cli);
        return kExitUsage;
    }
    return RunChosenCommand(line);
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) { return kestrel::Main(argc, argv); }
