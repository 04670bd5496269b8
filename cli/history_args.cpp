#include "history_args.h"

#include <CLI/CLI.hpp>

#include "checked_option.h"
#include "history_since.h"
#include "services/port_options.h"

namespace kestrel {

void AddHistoryOptions(CLI::App& command, SHistoryArgs& parsed)
{
    SJournalFilter& filter = parsed.filter;
    const std::vector<CLI::Option*> listOptions{
        AddCheckedOption(
            command, "--limit", "N",
            [&filter](const std::string& text) {
                const auto optLimit = ParseDecimal(text);
                filter.nLimit = static_cast<int>(optLimit.value_or(-1));
                return optLimit.has_value();
            },
            "--limit takes a number of runs.", "only the N newest runs"),
        // Unlike the other commands' --port, this one picks runs, it opens nothing.
        AddCheckedOption(
            command, "--port", "N|COMn|/dev/PATH",
            [&filter](const std::string& text) {
                if (text.starts_with('/')) {
                    filter.strDevice = text;
                    return true;
                }
                filter.optPort = ParsePortNumber(text);
                return filter.optPort.has_value();
            },
            "--port takes a number from 1 to 255, COMn or a device path.", "only the runs on this port"),
        AddCheckedOption(
            command, "--since", "DATE",
            [&filter](const std::string& text) {
                filter.strSince = SinceUtc(text).value_or("");
                return !filter.strSince.empty();
            },
            kSinceRefusal, "only the runs started at or after DATE: 2026-12-10, 2026-12-10T08:30 (UTC), 2026-12-10T17:30+09:00"),
        AddCheckedOption(
            command, "--outcome", "O",
            [&filter](const std::string& text) {
                filter.strOutcome = text;
                return IsJournalOutcome(text);
            },
            "--outcome takes completed, nothing-to-do, stopped, handset-error, no-response, port-error, file-error, refused, "
            "running or interrupted.",
            "only the runs that ended so (or are running, or were interrupted)"),
        command.add_option("--csv", parsed.strCsv, "write the runs with every field to FILE instead")
            ->type_name("FILE")
            ->check(NotBlank("--csv")),
    };
    command.add_flag("--fleet", parsed.bFleet, "the runs of every station, from the fleet's server (see --journal-url)");
    command.add_option("--station", parsed.strStation, "with --fleet: only the runs of the station NAME")
        ->type_name("NAME")
        ->check(NotBlank("--station"));

    CLI::App* pShow = command.add_subcommand("show", "show one run with every field");
    pShow->fallthrough();  // --json may follow
    AddCheckedOption(
        *pShow, "ID", "",
        [&filter](const std::string& text) {
            const auto optId = ParseDecimal(text);
            filter.optId = optId;
            return optId.has_value();
        },
        "ID is the number of a run, as history lists it.", "the run's number, as history lists it")
        ->required();
    for (CLI::Option* pOption : listOptions) pShow->excludes(pOption);
}

}  // namespace kestrel
