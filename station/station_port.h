#pragma once
// One port of a station: its own engine, link, receive thread, timers and images, with a
// view that never blocks (questions are answered by the job, messages become log lines),
// so that no port can hold up another.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "protocol/download_controller.h"
#include "protocol/headless_view.h"
#include "station/slot_claims.h"
#include "station/stacked_engine.h"

namespace kestrel {

// What every port of a station runs.
struct SStationJob {
    std::string strImage;
    std::string strOldImage;           // COMPARE only
    int nType = 0;                     // as asked; loading the image may adapt it
    int nBaudIndex = 1;                // 0: 57600, 1: 115200
    uint32_t dwFontAddress = 0xE00000; // FONT types
    bool bAnswerYes = false;           // the model-version question
};

// A port of a station is a slot: the place a handset is plugged in, which may name another
// device node each time the handset comes back.
struct SStationPortId {
    int nPort = 0;          // COM number; 0 when the slot was given otherwise
    std::string strSlot;    // a device path or link, or usb:ID_PATH; resolved at every open
    std::string strLabel;   // the operator's name for the slot ("Hub A port 3"); may be empty
    // The label, else "COM3" for a number, else the slot.
    std::string Label() const;
};

// The device node a slot names now; "" when it names none.
using SlotResolver = std::function<std::string(const std::string& slot)>;

// A question of a run with the job's answer, as a port's log shows it.
inline std::string AnsweredText(const std::string& question, bool bYes) { return question + (bYes ? " Yes" : " No"); }

// Everything a station shows of its ports, by port index.
class IStationObserver {
public:
    virtual ~IStationObserver() = default;
    virtual void OnPortLog(int index, int kind, const std::string& text) = 0;
    // "  √" after the line before, as in the window.
    virtual void OnPortCheckMark(int index) = 0;
    virtual void OnPortProgress(int index, const SBlockProgress& progress) = 0;
    virtual void OnPortRunStarted(int index) = 0;
    virtual void OnPortRunEnded(int index, RunOutcome outcome) = 0;
    // The port's engine is done with its work and takes Start, Stop and close again.
    virtual void OnPortFree(int /*index*/) {}
    // The port opened this device node for its run (again, when the handset came back).
    virtual void OnPortOpened(int /*index*/, const std::string& /*node*/) {}
    // A handset appeared on the port's slot, or left it.
    virtual void OnPortPresence(int /*index*/, bool /*bPresent*/) {}
    // The job answered the model-version question; by default a line of the port's log.
    virtual void OnPortAnswered(int index, const std::string& question, bool bYes)
    {
        OnPortLog(index, kLogInfo, AnsweredText(question, bYes));
    }
};

class CStationPort final : private CHeadlessView {
public:
    CStationPort(int index, SStationPortId id, IScheduler& shared, ISettingsReader& settings,
                 IStationObserver& observer, CSlotClaims& claims, SlotResolver resolver,
                 std::unique_ptr<IPortDevice> device = nullptr);
    // A run still in a wait ends as stopped, told to nobody: the observer may be half gone.
    ~CStationPort() override;
    CStationPort(const CStationPort&) = delete;
    CStationPort& operator=(const CStationPort&) = delete;

    // Loads the job's images into this port's engine; false with a message when one cannot
    // be loaded. The type that will run is TypeAsRun().
    bool Load(const SStationJob& job, std::string& error);
    int TypeAsRun() const { return m_engine.Engine().DloadType(); }

    void Start() { m_engine.Start(); }
    // The Stop button, with its rule (refused in the erase and the first blocks); while the
    // engine is busy it is kept and pressed once the engine is free.
    void Stop() { m_engine.Stop(); }
    // Ends a run whatever its step, as closing the window does: a wait under way is cancelled
    // at once; an engine busy otherwise is abandoned once it is free.
    void Abandon() { m_engine.Abandon(); }

    const SStationPortId& Id() const { return m_id; }
    bool IsRunning() const { return m_engine.Engine().IsRunActive(); }
    bool IsBusy() const { return m_engine.Engine().IsBusy(); }
    // What the run is doing now, in the words of its log.
    std::string StepText() const;
    const CDownloadController& Engine() const { return m_engine.Engine(); }

private:
    // IDownloadView
    void WriteLog(int kind, const std::string& text) override { m_pObserver->OnPortLog(m_nIndex, kind, text); }
    void MarkStepDone() override { m_pObserver->OnPortCheckMark(m_nIndex); }
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& text) override;
    bool AskFontAddress(uint32_t& address) override;
    void OnBlockSent(const SBlockProgress& progress) override { m_pObserver->OnPortProgress(m_nIndex, progress); }
    void OnRunStarted() override { m_pObserver->OnPortRunStarted(m_nIndex); }
    void OnRunEnded(RunOutcome outcome) override { m_pObserver->OnPortRunEnded(m_nIndex, outcome); }

    const int m_nIndex;
    const SStationPortId m_id;
    IStationObserver* m_pObserver;
    SStationJob m_job;
    CStackedEngine m_engine;
};

}  // namespace kestrel
