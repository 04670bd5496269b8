// kestrel-cli flash with several ports, and kestrel-cli station: many handsets at once,
// each port with an engine of its own, all on one event loop.

#include <QCoreApplication>
#include <QTimer>
#include <unistd.h>

#include <optional>

#include "commands.h"
#include "exit_codes.h"
#include "flash_args.h"
#include "image/download_type.h"
#include "interrupt_signals.h"
#include "services/device_presence.h"
#include "services/journal.h"
#include "services/run_recorder.h"
#include "services/qt_scheduler.h"
#include "services/settings_store.h"
#include "services/slot_resolver.h"
#include "services/station_run_setup.h"
#include "services/stored_settings.h"
#include "station/station.h"
#include "station_terminal_view.h"

namespace kestrel {
namespace {

// One station on the command line: the ports, their engines and what they show.
class CStationSession {
public:
    // frontEnd names the runs in the journal: "cli" or "station".
    CStationSession(CCliOutput& out, QCoreApplication& app, const std::vector<CPortOptions>& ports, bool watchOnly,
                    const char* frontEnd)
        : m_out(out),
          m_journal(JournalFilePath(),
                    NoticeOnThreadOf(&app, [&out](const std::string& text) { out.Log(kLogInfo, text); })),
          m_view(out, m_station, isatty(STDERR_FILENO) != 0 && !watchOnly, [this] { return m_scheduler.NowMs(); },
                 [this](int index) { OnStarted(index); }, [this](int index, RunOutcome outcome) { OnEnded(index, outcome); }),
          m_station(m_scheduler, m_settings, m_view)
    {
        m_station.SetSlotResolver([](const std::string& slot) { return SlotNodeToOpen(slot, StoredSettingLookup()); });
        for (const CPortOptions& port : ports) {
            m_station.AddPort({port.nPort, port.strDevicePath, port.strLabel});
            m_recorders.push_back(std::make_unique<CRunRecorder>(m_journal, frontEnd));
        }
        m_view.SetHooks([this](int) { QuitIfIdle(); },
                        [this](int index, const std::string& node) {
                            m_recorders[static_cast<std::size_t>(index)]->OnPortOpened(node);
                        });
        m_nBaudIndex = ports.front().dwBaudRate == 115200 ? 1 : 0;
    }

    // Loads the image into every port; says so when the type that runs is another.
    int Load(const FlashArgs& args)
    {
        StationJob job;
        job.strImage = args.strImage;
        job.strOldImage = args.strOld;
        const int asked = args.type.value_or(ReadNumber(kSettingDloadType, 0));
        job.nType = asked;
        job.nBaudIndex = m_nBaudIndex;
        job.dwFontAddress = args.fontAddress.value_or(0xE00000);
        job.bAnswerYes = args.bYes;
        std::string error;
        if (!m_station.LoadJob(job, error)) {
            m_out.Log(kLogError, error);
            m_out.Object(CJsonObject().Add("event", "end").Add("port", "all").Add("result", "error")
                             .Add("exit_code", int{kExitFileError}));
            return kExitFileError;
        }
        for (int i = 0; i < m_station.PortCount(); ++i) {
            const CDownloadController& engine = m_station.Port(i).Engine();
            m_recorders[static_cast<std::size_t>(i)]->OnImageLoaded(engine.NewImage());
            if (!args.strOld.empty()) m_recorders[static_cast<std::size_t>(i)]->OnImageLoaded(engine.OldImage());
        }
        const int type = m_station.Port(0).TypeAsRun();
        if (type != asked && asked >= 0 && asked < kDownloadTypeCount)
            m_out.Log(kLogInfo, "The image runs as " + std::string(kDownloadTypeNames[static_cast<std::size_t>(type)]) +
                                    " instead of " + std::string(kDownloadTypeNames[static_cast<std::size_t>(asked)]) + ".");
        return kExitOk;
    }

    CStation& Station() { return m_station; }
    int Units() const { return m_nUnits; }
    int Completed() const { return m_nCompleted; }
    int ExitCode() const { return m_nExitCode; }
    int64_t TotalMs() const { return m_nTotalMs; }
    void SetOnEnded(std::function<void(int, RunOutcome)> onEnded) { m_onEnded = std::move(onEnded); }
    bool Started(int index) { return m_view.HasStarted(index); }
    CStationTerminalView& View() { return m_view; }
    int64_t NowMs() const { return m_scheduler.NowMs(); }
    // Leaves the event loop once no run is going on and no engine is at work, now or as soon
    // as the last one is free.
    void QuitWhenIdle()
    {
        m_bQuitWhenIdle = true;
        QuitIfIdle();
    }

private:
    void QuitIfIdle()
    {
        if (m_bQuitWhenIdle && !m_station.AnyBusy() && !m_station.AnyRunning()) QCoreApplication::quit();
    }
    void OnStarted(int index)
    {
        m_recorders[static_cast<std::size_t>(index)]->OnRunStarted(StationRunSetup(m_station.Port(index)));
    }
    void OnEnded(int index, RunOutcome outcome)
    {
        m_recorders[static_cast<std::size_t>(index)]->OnRunEnded(outcome, m_station.Port(index).Engine().Statistics());
        ++m_nUnits;
        if (outcome == RunOutcome::Completed || outcome == RunOutcome::NothingToDo) ++m_nCompleted;
        m_nTotalMs += m_scheduler.NowMs() - m_station.Port(index).Engine().Statistics().nStartMs;
        m_nExitCode = MostSevereExitCode(m_nExitCode, EndingOf(outcome).exitCode);
        if (m_onEnded) m_onEnded(index, outcome);
    }

    CCliOutput& m_out;
    CQtScheduler m_scheduler;
    CStoredSettings m_settings;
    CJournalWriter m_journal;
    std::vector<std::unique_ptr<CRunRecorder>> m_recorders;
    CStationTerminalView m_view;
    CStation m_station;
    int m_nBaudIndex = 1;
    int m_nUnits = 0;
    int m_nCompleted = 0;
    int m_nExitCode = kExitOk;
    int64_t m_nTotalMs = 0;
    std::function<void(int, RunOutcome)> m_onEnded;
    bool m_bQuitWhenIdle = false;
};

// Ctrl+C stops every port by its own rule; a second one abandons every run.
class CStationInterrupts {
public:
    CStationInterrupts(CStation& station, std::function<void()> onFirst)
        : m_signals([this, &station, onFirst = std::move(onFirst)] {
              if (++m_nCount == 1) {
                  station.StopAll();
                  onFirst();
              } else {
                  station.AbandonAll();
              }
          })
    {
    }
    bool IsReady() const { return m_signals.IsReady(); }
    bool Interrupted() const { return m_nCount > 0; }

private:
    int m_nCount = 0;
    CInterruptSignals m_signals;
};

}  // namespace

int RunFlashOnPorts(CCliOutput& out, const std::vector<CPortOptions>& ports, const FlashArgs& parsed)
{
    int argc = 1;
    char name[] = "kestrel-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    CStationSession session(out, app, ports, false, "cli");
    if (const int loaded = session.Load(parsed); loaded != kExitOk) return loaded;

    CStation& station = session.Station();
    session.SetOnEnded([&](int, RunOutcome) {
        if (!station.AnyRunning()) session.QuitWhenIdle();
    });
    CStationInterrupts interrupts(station, [&] {
        if (!out.Json()) out.Error("Stopping every port; press Ctrl+C again to abandon the runs.");
        if (!station.AnyRunning()) session.QuitWhenIdle();
    });
    if (!interrupts.IsReady()) return kExitUsage;
    QTimer::singleShot(0, [&] { station.StartAll(); });
    app.exec();

    station.AbandonAll();
    // Ports that Ctrl+C kept from starting.
    for (int i = 0; i < station.PortCount(); ++i)
        if (!session.Started(i)) session.View().OnPortRunEnded(i, RunOutcome::Stopped);
    session.View().Finish();
    const int exitCode = session.ExitCode();
    out.Object(CJsonObject().Add("event", "end").Add("port", "all")
                   .Add("result", exitCode == kExitOk ? "completed" : "error").Add("exit_code", exitCode));
    return exitCode;
}

int RunStationCommand(CCliOutput& out, const std::vector<CPortOptions>& ports, const FlashArgs& parsed)
{
    int argc = 1;
    char name[] = "kestrel-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    CStationSession session(out, app, ports, true, "station");
    if (const int loaded = session.Load(parsed); loaded != kExitOk) return loaded;

    CStation& station = session.Station();
    station.SetStartOnArrival(true);
    bool ending = false;
    session.SetOnEnded([&](int index, RunOutcome outcome) {
        const CStationPort& port = station.Port(index);
        const RunStatistics& stats = port.Engine().Statistics();
        const double seconds = static_cast<double>(session.NowMs() - stats.nStartMs) / 1000.0;
        const double rate = seconds > 0 ? static_cast<double>(stats.qwBytesWritten) / seconds : 0.0;
        const Ending result = EndingOf(outcome);
        if (out.Json()) {
            out.Object(CJsonObject().Add("event", "unit").Add("port", port.Id().Label()).Add("slot", port.Id().strSlot)
                           .Add("result", result.result)
                           .Add("exit_code", result.exitCode).Add("seconds", seconds).Add("bytes_per_second", rate));
        } else {
            char line[256];
            std::snprintf(line, sizeof line, "%s %s: %s in %.1f s, %.0f B/s", port.Id().Label().c_str(),
                          port.Id().strSlot.c_str(), result.result, seconds, rate);
            out.Text(line);
        }
        if (parsed.count && session.Units() >= *parsed.count) ending = true;
        if (ending && !station.AnyRunning()) session.QuitWhenIdle();
    });
    CStationInterrupts interrupts(station, [&] {
        ending = true;
        station.SetStartOnArrival(false);
        if (!station.AnyRunning()) session.QuitWhenIdle();
    });
    if (!interrupts.IsReady()) return kExitUsage;

    std::vector<std::string> devices;
    for (const CPortOptions& port : ports) devices.push_back(port.strDevicePath);
    CDevicePresence presence(devices);
    QObject::connect(&presence, &CDevicePresence::Arrived, [&](const QString& device) {
        if (!ending) station.OnDeviceArrived(device.toStdString());
    });
    QObject::connect(&presence, &CDevicePresence::Gone,
                     [&](const QString& device) { station.OnDeviceGone(device.toStdString()); });
    if (!out.Json()) out.Text("Waiting for handsets on " + std::to_string(ports.size()) + " port(s); Ctrl+C ends.");
    QTimer::singleShot(0, [&] { presence.AnnouncePresent(); });
    app.exec();

    station.AbandonAll();
    const int units = session.Units();
    const double mean = units > 0 ? static_cast<double>(session.TotalMs()) / 1000.0 / units : 0.0;
    if (out.Json()) {
        out.Object(CJsonObject().Add("event", "summary").Add("units", units).Add("completed", session.Completed())
                       .Add("failed", units - session.Completed()).Add("mean_seconds", mean));
    } else {
        char line[256];
        std::snprintf(line, sizeof line, "units: %d completed, %d failed; %.1f s per unit", session.Completed(),
                      units - session.Completed(), mean);
        out.Text(line);
    }
    return session.ExitCode();
}

}  // namespace kestrel
