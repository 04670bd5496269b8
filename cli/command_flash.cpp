// kestrel-cli flash: one download run of the engine, with the terminal as its window.

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include "services/qt_scheduler.h"
#include "services/settings_store.h"
#include "services/stored_settings.h"
#include "commands.h"
#include "exit_codes.h"
#include "image/download_type.h"
#include "protocol/download_controller.h"
#include "terminal_view.h"

namespace kestrel {
namespace {

int g_anInterruptPipe[2] = {-1, -1};

void OnInterruptSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = write(g_anInterruptPipe[1], &c, 1);
}

struct FlashArgs {
    std::string strImage;
    std::string strOld;
    std::optional<int> type;
    std::optional<uint32_t> fontAddress;
    bool bYes = false;
};

std::optional<int> ParseType(const std::string& text)
{
    if (text.size() == 1 && text[0] >= '0' && text[0] < '0' + kDownloadTypeCount) return text[0] - '0';
    for (int i = 0; i < kDownloadTypeCount; ++i)
        if (strcasecmp(text.c_str(), std::string(kDownloadTypeNames[static_cast<std::size_t>(i)]).c_str()) == 0) return i;
    if (strcasecmp(text.c_str(), "FONT(EMERGENCY)") == 0) return DLOAD_FONT_EMERGENCY;
    return std::nullopt;
}

// 1 to 8 hexadecimal digits with an optional 0x, as the font dialog takes them.
std::optional<uint32_t> ParseFontAddress(const std::string& text)
{
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    for (char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    return static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
}

bool ParseFlashArgs(const CliArgs& args, FlashArgs& parsed, std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--yes") {
            parsed.bYes = true;
        } else if (a == "--type" && hasValue) {
            parsed.type = ParseType(args[++i]);
            if (!parsed.type) {
                error = "--type takes a type name (NORMAL, EMERGENCY, FONT(NORMAL), FONT(EMRGENCY), CHANGE(NORMAL), "
                        "CHANGE(EMERGENCY), COMPARE(EMERGENCY)) or its number 0-6.";
                return false;
            }
        } else if (a == "--old" && hasValue) {
            parsed.strOld = args[++i];
        } else if (a == "--font-address" && hasValue) {
            parsed.fontAddress = ParseFontAddress(args[++i]);
            if (!parsed.fontAddress) {
                error = "--font-address takes 1 to 8 hexadecimal digits, with or without 0x.";
                return false;
            }
        } else if (a.rfind("--", 0) == 0) {
            error = "flash: unknown or incomplete option " + a;
            return false;
        } else if (parsed.strImage.empty()) {
            parsed.strImage = a;
        } else {
            error = "flash takes one image.";
            return false;
        }
    }
    if (parsed.strImage.empty()) error = "usage: kestrel-cli flash IMAGE --type NAME|0-6 [--old OLD] [--font-address HEX] [--yes]";
    return error.empty();
}

struct Ending {
    const char* result;
    int exitCode;
};

Ending EndingOf(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Completed: return {"completed", kExitOk};
    case RunOutcome::NothingToDo: return {"nothing-to-do", kExitOk};
    case RunOutcome::Stopped: return {"stopped", kExitInterrupted};
    case RunOutcome::HandsetError: return {"error", kExitHandsetError};
    case RunOutcome::NoResponse: return {"no-response", kExitNoResponse};
    case RunOutcome::PortError: return {"error", kExitPortError};
    case RunOutcome::FileError:
    case RunOutcome::Refused: break;
    }
    return {"error", kExitFileError};
}

}  // namespace

int RunFlashCommand(CCliOutput& out, const CPortOptions& port, const CliArgs& args)
{
    FlashArgs parsed;
    std::string error;
    if (!ParseFlashArgs(args, parsed, error)) {
        out.Error(error);
        return kExitUsage;
    }

    int argc = 1;
    char name[] = "kestrel-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    CQtScheduler scheduler;
    CStoredSettings settings;

    std::optional<RunOutcome> outcome;
    std::function<void()> finishWhenIdle;
    TerminalAnswers answers{parsed.bYes, parsed.fontAddress};
    CTerminalView view(out, answers, isatty(STDERR_FILENO) != 0, [&scheduler] { return scheduler.NowMs(); },
                       [&](RunOutcome o) {
                           if (!outcome) outcome = o;
                           QTimer::singleShot(0, finishWhenIdle);
                       });
    CDownloadController engine(scheduler, view, settings);
    engine.SetBanner("Kestrel");
    engine.SetPort(port.nPort);
    engine.SetBaudIndex(port.dwBaudRate == 115200 ? 1 : 0);
    const std::string device = port.strDevicePath;
    engine.SetPortResolver([device](int) { return device; });

    const int asked = parsed.type.value_or(ReadNumber(kSettingDloadType, 0));
    int type = asked;
    if (!engine.NewImage().Load(parsed.strImage, type)) {
        out.Log(kLogError, engine.NewImage().LastError());
        out.Object(CJsonObject().Add("event", "end").Add("result", "error").Add("exit_code", int{kExitFileError}));
        return kExitFileError;
    }
    if (!parsed.strOld.empty()) {
        int oldType = type;
        if (!engine.OldImage().Load(parsed.strOld, oldType)) {
            out.Log(kLogError, engine.OldImage().LastError());
            out.Object(CJsonObject().Add("event", "end").Add("result", "error").Add("exit_code", int{kExitFileError}));
            return kExitFileError;
        }
    }
    if (type != asked && asked >= 0 && asked < kDownloadTypeCount) {
        out.Log(kLogInfo, "The image runs as " + std::string(kDownloadTypeNames[static_cast<std::size_t>(type)]) +
                              " instead of " + std::string(kDownloadTypeNames[static_cast<std::size_t>(asked)]) + ".");
    }
    engine.SetDloadType(type);

    // Ctrl+C is Stop (once the engine is out of a wait); a second one abandons a run that
    // Stop may not end yet.
    int interrupts = 0;
    std::function<void()> stopWhenIdle = [&] {
        if (engine.IsBusy()) {
            QTimer::singleShot(10, stopWhenIdle);
            return;
        }
        engine.OnStop();
        if (!outcome) out.Log(kLogInfo, "Press Ctrl+C again to abandon the run.");
    };
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_anInterruptPipe) != 0) return kExitUsage;
    QSocketNotifier interruptNotifier(g_anInterruptPipe[0], QSocketNotifier::Read);
    QObject::connect(&interruptNotifier, &QSocketNotifier::activated, [&] {
        char c;
        [[maybe_unused]] const ssize_t n = read(g_anInterruptPipe[0], &c, 1);
        if (++interrupts == 1) {
            stopWhenIdle();
        } else {
            if (!outcome) outcome = RunOutcome::Stopped;
            finishWhenIdle();
        }
    });
    struct sigaction action {};
    action.sa_handler = OnInterruptSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    // Quitting ends every event loop, the engine's nested waits included, so the program
    // only leaves once the engine is out of its wait or question.
    finishWhenIdle = [&] {
        if (engine.IsBusy())
            QTimer::singleShot(10, finishWhenIdle);
        else
            app.quit();
    };
    QTimer::singleShot(0, [&] { engine.OnRun(); });
    app.exec();

    // A run abandoned with a second Ctrl+C still holds the port.
    engine.OnClose();
    const Ending ending = EndingOf(outcome.value_or(RunOutcome::Stopped));
    out.Object(CJsonObject().Add("event", "end").Add("result", ending.result).Add("exit_code", ending.exitCode));
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    close(g_anInterruptPipe[0]);
    close(g_anInterruptPipe[1]);
    return ending.exitCode;
}

}  // namespace kestrel
