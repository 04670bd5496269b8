#pragma once
// An engine that works on a stack of its own, and the operator's actions on it. Its waits
// suspend that stack; Stop pressed meanwhile is kept for when the engine is free, and
// Abandon cancels the wait, so the run ends as stopped at once instead of after the wait.

#include <functional>
#include <memory>

#include "protocol/download_controller.h"
#include "station/engine_scheduler.h"

namespace kestrel {

class CStackedEngine {
public:
    // engineIndex picks the engine's timer ids in the shared scheduler; onFree is told each
    // time the engine is done with its work and takes actions again.
    CStackedEngine(IScheduler& shared, int engineIndex, IDownloadView& view, ISettingsReader& settings,
                   std::unique_ptr<IPortDevice> device, std::function<void()> onFree);
    // A wait under way is cancelled first, so that its work ends while the engine is there.
    ~CStackedEngine();
    CStackedEngine(const CStackedEngine&) = delete;
    CStackedEngine& operator=(const CStackedEngine&) = delete;

    CDownloadController& Engine() { return m_engine; }
    const CEngineScheduler& Scheduler() const { return m_scheduler; }
    const CDownloadController& Engine() const { return m_engine; }

    void Start() { m_scheduler.Run([this] { m_engine.OnRun(); }); }
    // With its rule (refused in the erase and the first blocks); kept while the engine is busy.
    void Stop();
    // Ends a run whatever its step, as closing the window does; an engine busy otherwise than
    // in a wait is abandoned once it is free.
    void Abandon();
    // Any other action, on the engine's stack.
    void Run(IScheduler::Task task) { m_scheduler.Run(std::move(task)); }
    // Forgets kept actions and stops telling when the engine is free: its owner is going.
    void Detach();

private:
    void OnFree();

    enum class EPending { None, Stop, Abandon };

    std::function<void()> m_onFree;
    EPending m_ePending = EPending::None;
    CEngineScheduler m_scheduler;
    CDownloadController m_engine;
};

}  // namespace kestrel
