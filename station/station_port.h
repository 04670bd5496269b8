#pragma once
// One port of a station: its own engine, link, receive thread, timers and images, with a
// view that never blocks (questions are answered by the job, messages become log lines),
// so that no port can hold up another.

#include <cstdint>
#include <memory>
#include <string>

#include "protocol/download_controller.h"
#include "protocol/headless_view.h"
#include "station/engine_scheduler.h"

namespace kestrel {

// What every port of a station runs.
struct StationJob {
    std::string strImage;
    std::string strOldImage;           // COMPARE only
    int nType = 0;                     // as asked; loading the image may adapt it
    int nBaudIndex = 1;                // 0: 57600, 1: 115200
    uint32_t dwFontAddress = 0xE00000; // FONT types
    bool bAnswerYes = false;           // the model-version question
};

struct StationPortId {
    int nPort = 0;           // COM number; 0 when the port was given as a device path
    std::string strDevice;   // the device node the port opens
    // "COM3" for a number, otherwise the device path.
    std::string Label() const;
};

// Everything a station shows of its ports, by port index.
class IStationObserver {
public:
    virtual ~IStationObserver() = default;
    virtual void OnPortLog(int index, int kind, const std::string& text) = 0;
    // "  √" after the line before, as in the window.
    virtual void OnPortCheckMark(int index) = 0;
    virtual void OnPortProgress(int index, const BlockProgress& progress) = 0;
    virtual void OnPortRunStarted(int index) = 0;
    virtual void OnPortRunEnded(int index, RunOutcome outcome) = 0;
    // The port's engine has come out of a wait and takes Start, Stop and close again.
    virtual void OnPortFree(int /*index*/) {}
};

class CStationPort final : private CHeadlessView {
public:
    CStationPort(int index, StationPortId id, IScheduler& shared, ISettingsReader& settings,
                 IStationObserver& observer, std::unique_ptr<IPortDevice> device = nullptr);
    ~CStationPort() override;
    CStationPort(const CStationPort&) = delete;
    CStationPort& operator=(const CStationPort&) = delete;

    // Loads the job's images into this port's engine; false with a message when one cannot
    // be loaded. The type that will run is TypeAsRun().
    bool Load(const StationJob& job, std::string& error);
    int TypeAsRun() const { return m_engine.DloadType(); }

    void Start() { m_scheduler.Run([this] { m_engine.OnRun(); }); }
    // The Stop button, with its rule (refused in the erase and the first blocks).
    void Stop() { m_scheduler.Run([this] { m_engine.OnStop(); }); }
    // Ends a run whatever its step, as closing the window does.
    void Abandon() { m_scheduler.Run([this] { m_engine.OnClose(); }); }

    const StationPortId& Id() const { return m_id; }
    bool IsRunning() const { return m_engine.IsRunActive(); }
    bool IsBusy() const { return m_engine.IsBusy(); }
    // What the run is doing now, in the words of its log.
    std::string StepText() const;
    const CDownloadController& Engine() const { return m_engine; }

private:
    // IDownloadView
    void WriteLog(int kind, const std::string& text) override { m_observer.OnPortLog(m_nIndex, kind, text); }
    void MarkStepDone() override { m_observer.OnPortCheckMark(m_nIndex); }
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& text) override;
    bool AskFontAddress(uint32_t& address) override;
    void OnBlockSent(const BlockProgress& progress) override { m_observer.OnPortProgress(m_nIndex, progress); }
    void OnRunStarted() override { m_observer.OnPortRunStarted(m_nIndex); }
    void OnRunEnded(RunOutcome outcome) override { m_observer.OnPortRunEnded(m_nIndex, outcome); }

    const int m_nIndex;
    const StationPortId m_id;
    IStationObserver& m_observer;
    CEngineScheduler m_scheduler;
    StationJob m_job;
    CDownloadController m_engine;
};

}  // namespace kestrel
