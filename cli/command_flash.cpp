// kestrel-cli flash: one run on each port, all at once. One port shows its log as the window
// does; several show a status line each.

#include <unistd.h>

#include "cli_session.h"
#include "commands.h"
#include "protocol/exit_codes.h"
#include "station_terminal_view.h"
#include "terminal_view.h"

namespace kestrel {
namespace {

// How the command ends: for one port as its run did, for several as the most severe of their
// runs did. A port whose run never started counts as stopped.
SEnding EndingOfFlash(CCliSession& cli)
{
    if (!cli.Loaded()) return {"error", kExitFileError};
    const CRunSession& session = cli.Session();
    if (session.PortCount() == 1) return EndingOf(session.Summary(0).eOutcome);
    int exitCode = kExitOk;
    for (int i = 0; i < session.PortCount(); ++i)
        exitCode = MostSevereExitCode(exitCode, EndingOf(session.Summary(i).eOutcome).exitCode);
    return {exitCode == kExitOk ? "completed" : exitCode == kExitInterrupted ? "stopped" : "error", exitCode};
}

int WriteEnd(CCliOutput& out, CCliSession& cli)
{
    const SEnding ending = EndingOfFlash(cli);
    const CRunSession& session = cli.Session();
    CJsonObject end;
    end.Add("event", "end");
    if (session.PortCount() > 1) end.Add("port", "all");
    end.Add("result", ending.result).Add("exit_code", ending.exitCode);
    if (session.PortCount() == 1) AddBackupFailure(end, session.Port(0).Engine().Statistics());
    out.Object(end);
    return ending.exitCode;
}

}  // namespace

int RunFlashCommand(CCliOutput& out, const std::vector<CPortOptions>& ports, const SFlashArgs& args)
{
    const bool onePort = ports.size() == 1;
    CCliSession cli(out, ports, "cli", [&](std::function<int64_t()> clock) -> std::unique_ptr<ICliRunView> {
        const bool terminal = isatty(STDERR_FILENO) != 0;
        if (onePort) return std::make_unique<CTerminalView>(out, terminal, std::move(clock));
        // Status lines on the terminal; the log still reaches standard output kept elsewhere.
        return std::make_unique<CStationTerminalView>(out, terminal, isatty(STDOUT_FILENO) == 0, std::move(clock), true);
    });
    if (!cli.Load(args)) return WriteEnd(out, cli);
    const bool caught = cli.CatchInterrupts([&] {
        if (cli.Session().IsIdle() || out.Json()) return;
        out.Error(onePort ? "Press Ctrl+C again to abandon the run."
                          : "Stopping every port; press Ctrl+C again to abandon the runs.");
    });
    if (!caught) return kExitUsage;
    cli.Exec([&] {
        cli.Session().Station().StartAll();
        cli.QuitWhenIdle();
    });
    cli.Finish();
    return WriteEnd(out, cli);
}

}  // namespace kestrel
