// kestrel-cli station: handsets flashed as they appear on the ports, until Ctrl+C or --count
// units, with a line for each unit and a summary at the end.

#include <cstdio>

#include "cli_session.h"
#include "commands.h"
#include "protocol/exit_codes.h"
#include "station_terminal_view.h"

namespace kestrel {
namespace {

void WriteUnit(CCliOutput& out, const CStationPort& port, const SRunSummary& summary)
{
    const SEnding result = EndingOf(summary.eOutcome);
    const double seconds = static_cast<double>(summary.nDurationMs) / 1000.0;
    if (out.Json()) {
        out.Object(CJsonObject().Add("event", "unit").Add("port", port.Id().Label()).Add("slot", port.Id().strSlot)
                       .Add("result", result.result).Add("exit_code", result.exitCode).Add("seconds", seconds)
                       .Add("bytes_per_second", summary.nBytesPerSecond));
        return;
    }
    char line[256];
    std::snprintf(line, sizeof line, "%s %s: %s in %.1f s, %lld B/s", port.Id().Label().c_str(), port.Id().strSlot.c_str(),
                  result.result, seconds, static_cast<long long>(summary.nBytesPerSecond));
    out.Text(line);
}

void WriteSummary(CCliOutput& out, const SUnitCounts& counts, int64_t nNowMs)
{
    if (out.Json()) {
        out.Object(CJsonObject().Add("event", "summary").Add("units", counts.nUnits).Add("completed", counts.nCompleted)
                       .Add("failed", counts.Failed()).Add("yield_percent", counts.YieldPercent())
                       .Add("units_per_hour", counts.UnitsPerHour(nNowMs)).Add("mean_seconds", counts.MeanSeconds()));
        return;
    }
    out.Text("units: " + CountsText(counts, nNowMs));
}

}  // namespace

int RunStationCommand(CCliOutput& out, const std::vector<CPortOptions>& ports, const SFlashArgs& args)
{
    CCliSession cli(out, ports, "station", [&](std::function<int64_t()> clock) {
        return std::make_unique<CStationTerminalView>(out, false, true, std::move(clock), false);
    });
    if (!cli.Load(args)) {
        out.Object(CJsonObject().Add("event", "end").Add("port", "all").Add("result", "error")
                       .Add("exit_code", int{kExitFileError}));
        return kExitFileError;
    }
    CRunSession& session = cli.Session();
    CStation& station = session.Station();
    // No more handsets are taken; the event loop ends once the runs going on have.
    const auto endWhenIdle = [&] {
        station.SetStartOnArrival(false);
        cli.QuitWhenIdle();
    };
    cli.SetOnUnitEnded([&](int index, const SRunSummary& summary) {
        WriteUnit(out, session.Port(index), summary);
        if (args.count && session.Counts().nUnits >= *args.count) endWhenIdle();
    });
    if (!cli.CatchInterrupts(endWhenIdle)) return kExitUsage;
    // --count N is N units exactly, however many handsets are there at once.
    station.SetStartOnArrival(true, args.count);
    session.WatchHandsets();
    if (!out.Json()) out.Text("Waiting for handsets on " + std::to_string(ports.size()) + " port(s); Ctrl+C ends.");
    cli.Exec([] {});
    cli.Finish();
    WriteSummary(out, session.Counts(), cli.NowMs());
    return cli.ExitCode();
}

}  // namespace kestrel
