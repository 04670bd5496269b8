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

    // onCancelled runs on the engine's stack once work whose wait was cancelled has unwound;
    // onFree is told each time the engine's work is done and its stack free again.
    CEngineScheduler(IScheduler& shared, int engineIndex, std::function<void()> onCancelled,
                     std::function<void()> onFree);
    ~CEngineScheduler() override;
    CEngineScheduler(const CEngineScheduler&) = delete;
    CEngineScheduler& operator=(const CEngineScheduler&) = delete;

    void Post(Task task) override;
    void SetTimer(int id, int milliseconds, Task onExpiry) override;
    void KillTimer(int id) override;
    int64_t NowMs() const override;
    // Only on the engine's own stack: a wait anywhere else would nest an event loop, which is
    // what the stacks are there to avoid, so it stops the process as a programming error.
    void Wait(int milliseconds) override;

    // Runs an operator's action (Run, Stop, close) on the engine's stack; while the stack is
    // taken, where it is called.
    void Run(Task task);
    bool IsWaiting() const { return m_pStack->IsSuspended(); }
    // Cancels a wait under way: its work unwinds and onCancelled ends the run, before this
    // returns. The owner calls it before the engine goes away.
    void CancelWaits();
    // The id in the shared scheduler of the engine's timer id.
    int SharedTimerId(int id) const { return m_nIdBase + id; }

private:
    // Work as the stack runs it: a cancelled wait in it ends with onCancelled.
    Task OnStack(Task task);
    void ResumeAfterWait();
    void TellIfFree();

    IScheduler& m_shared;
    const int m_nIdBase;
    std::function<void()> m_onCancelled;
    std::function<void()> m_onFree;
    // Tasks already queued in the shared scheduler find out whether the stack is still there.
    std::shared_ptr<CEngineStack> m_pStack;
};

}  // namespace kestrel
