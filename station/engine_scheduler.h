#pragma once
// One engine's share of the process's scheduler: everything goes to the shared one, but the
// engine's timer ids are moved into a range of its own, so engines never stop or replace
// each other's timers, and its work runs on a stack of its own, so that its waits suspend
// that stack instead of nesting in the event loop of every other engine.

#include <functional>
#include <memory>

#include "protocol/scheduler.h"
#include "station/engine_stack.h"

namespace kestrel {

class CEngineScheduler final : public IScheduler {
public:
    // Ids an engine may use: 0 to kIdsPerEngine - 1; the one after them ends its waits.
    static constexpr int kIdsPerEngine = 15;

    // onRest is told when work that had waited is done, and the engine free again.
    CEngineScheduler(IScheduler& shared, int engineIndex, std::function<void()> onRest);
    ~CEngineScheduler() override;

    void Post(Task task) override;
    void SetTimer(int id, int milliseconds, Task onExpiry) override;
    void KillTimer(int id) override;
    int64_t NowMs() const override;
    void Wait(int milliseconds) override;

    // Runs an operator's action (Run, Stop, close) on the engine's stack.
    void Run(Task task) { m_pStack->Run(std::move(task)); }
    // Ends a wait under way at once; the owner calls it before the engine goes away.
    void EndWaits();
    // The id in the shared scheduler of the engine's timer id.
    int SharedTimerId(int id) const { return m_nIdBase + id; }

private:
    void ResumeAfterWait();

    IScheduler& m_shared;
    const int m_nIdBase;
    std::function<void()> m_onRest;
    // Tasks already queued in the shared scheduler find out whether the stack is still there.
    std::shared_ptr<CEngineStack> m_pStack;
};

}  // namespace kestrel
