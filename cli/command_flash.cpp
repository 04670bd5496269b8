// kestrel-cli flash: one download run of the engine, with the terminal as its window.

#include <QCoreApplication>
#include <QTimer>
#include <unistd.h>

#include "services/journal_writer.h"
#include "services/qt_scheduler.h"
#include "services/run_recorder.h"
#include "services/settings_store.h"
#include "services/slot_resolver.h"
#include "services/stored_settings.h"
#include "commands.h"
#include "exit_codes.h"
#include "flash_args.h"
#include "image/download_type.h"
#include "interrupt_signals.h"
#include "protocol/download_controller.h"
#include "station/stacked_engine.h"
#include "terminal_view.h"

namespace kestrel {

int RunFlashCommand(CCliOutput& out, const CPortOptions& port, const FlashArgs& parsed)
{
    int argc = 1;
    char name[] = "kestrel-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    CQtScheduler scheduler;
    CStoredSettings settings;
    // What the journal has to say goes into the log.
    CJournalWriter journal(JournalFilePath(), NoticeOnThreadOf(&app, [&out](const std::string& text) { out.Log(kLogInfo, text); }));
    CRunRecorder recorder(journal, "cli");

    std::optional<RunOutcome> outcome;
    // The program leaves once the run has ended and the engine is out of its work.
    bool quitWhenFree = false;
    std::unique_ptr<CStackedEngine> pStacked;
    const auto quitIfFree = [&] {
        if (quitWhenFree && !pStacked->Engine().IsBusy()) app.quit();
    };
    TerminalAnswers answers{parsed.bYes, parsed.fontAddress};
    CTerminalView view(
        out, answers, isatty(STDERR_FILENO) != 0, [&scheduler] { return scheduler.NowMs(); },
        [&] {
            const CDownloadController& engine = pStacked->Engine();
            recorder.OnRunStarted(
                {port.nPort, port.strDevicePath, engine.DloadType(), &engine.NewImage(), &engine.OldImage()});
        },
        [&](RunOutcome o) {
            recorder.OnRunEnded(o, pStacked->Engine().Statistics());
            if (!outcome) outcome = o;
            quitWhenFree = true;
        });
    // On a stack of its own, the engine's waits leave the event loop free, and a second
    // Ctrl+C cancels a wait instead of waiting it out.
    pStacked = std::make_unique<CStackedEngine>(scheduler, 0, view, settings, nullptr, quitIfFree);
    CDownloadController& engine = pStacked->Engine();
    engine.SetBanner("Kestrel");
    engine.SetPort(port.nPort);
    engine.SetBaudIndex(port.dwBaudRate == 115200 ? 1 : 0);
    // A link or usb:ID_PATH names the node the handset has at each open.
    engine.SetPortResolver([slot = port.strDevicePath](int) { return SlotNodeToOpen(slot, StoredSettingLookup()); });

    const int asked = parsed.type.value_or(ReadNumber(kSettingDloadType, 0));
    int type = asked;
    if (!engine.NewImage().Load(parsed.strImage, type)) {
        out.Log(kLogError, engine.NewImage().LastError());
        out.Object(CJsonObject().Add("event", "end").Add("result", "error").Add("exit_code", int{kExitFileError}));
        return kExitFileError;
    }
    recorder.OnImageLoaded(engine.NewImage());
    if (!parsed.strOld.empty()) {
        int oldType = type;
        if (!engine.OldImage().Load(parsed.strOld, oldType)) {
            out.Log(kLogError, engine.OldImage().LastError());
            out.Object(CJsonObject().Add("event", "end").Add("result", "error").Add("exit_code", int{kExitFileError}));
            return kExitFileError;
        }
        recorder.OnImageLoaded(engine.OldImage());
    }
    if (type != asked && asked >= 0 && asked < kDownloadTypeCount) {
        out.Log(kLogInfo, "The image runs as " + std::string(kDownloadTypeNames[static_cast<std::size_t>(type)]) +
                              " instead of " + std::string(kDownloadTypeNames[static_cast<std::size_t>(asked)]) + ".");
    }
    engine.SetDloadType(type);

    // Ctrl+C is Stop (once the engine is out of a wait); a second one abandons a run that
    // Stop may not end yet.
    int interruptCount = 0;
    CInterruptSignals interrupts([&] {
        if (++interruptCount == 1) {
            pStacked->Stop();
            if (!outcome) out.Log(kLogInfo, "Press Ctrl+C again to abandon the run.");
        } else {
            pStacked->Abandon();
            if (!outcome) outcome = RunOutcome::Stopped;
            quitWhenFree = true;
            quitIfFree();
        }
    });
    if (!interrupts.IsReady()) return kExitUsage;

    QTimer::singleShot(0, [&] { pStacked->Start(); });
    app.exec();

    // A run abandoned with a second Ctrl+C still holds the port.
    pStacked->Abandon();
    // The run's row is written, and what the journal said is in the log, before the end line.
    journal.Flush();
    QCoreApplication::sendPostedEvents();
    const Ending ending = EndingOf(outcome.value_or(RunOutcome::Stopped));
    CJsonObject end;
    end.Add("event", "end").Add("result", ending.result).Add("exit_code", ending.exitCode);
    out.Object(AddBackupFailure(end, engine.Statistics()));
    return ending.exitCode;
}

}  // namespace kestrel
