#include "station/engine_scheduler.h"

#include <utility>

namespace kestrel {
namespace {
// Below this the ids belong to a single engine that uses the shared scheduler directly.
constexpr int kFirstEngineId = 1000;
constexpr int kIdRange = CEngineScheduler::kIdsPerEngine + 1;
}  // namespace

CEngineScheduler::CEngineScheduler(IScheduler& shared, int engineIndex, std::function<void()> onCancelled,
                                   std::function<void()> onFree)
    : m_shared(shared),
      m_nIdBase(kFirstEngineId + engineIndex * kIdRange),
      m_onCancelled(std::move(onCancelled)),
      m_onFree(std::move(onFree)),
      m_pStack(std::make_shared<CEngineStack>())
{
}

CEngineScheduler::~CEngineScheduler() { m_shared.KillTimer(SharedTimerId(kIdsPerEngine)); }

IScheduler::Task CEngineScheduler::OnStack(Task task)
{
    return [this, task = std::move(task)] {
        try {
            task();
        } catch (const CWaitCancelled&) {
            if (m_onCancelled) m_onCancelled();
        }
    };
}

void CEngineScheduler::Run(Task task)
{
    const bool wasFree = m_pStack->IsFree();
    m_pStack->Run(OnStack(std::move(task)));
    if (wasFree) TellIfFree();
}

void CEngineScheduler::Post(Task task)
{
    m_shared.Post([this, stack = std::weak_ptr<CEngineStack>(m_pStack), task = std::move(task)]() mutable {
        if (stack.lock()) Run(std::move(task));
    });
}

void CEngineScheduler::SetTimer(int id, int milliseconds, Task onExpiry)
{
    m_shared.SetTimer(SharedTimerId(id), milliseconds,
                      [this, stack = std::weak_ptr<CEngineStack>(m_pStack), task = std::move(onExpiry)] {
                          if (stack.lock()) Run(task);
                      });
}

void CEngineScheduler::KillTimer(int id) { m_shared.KillTimer(SharedTimerId(id)); }

int64_t CEngineScheduler::NowMs() const { return m_shared.NowMs(); }

void CEngineScheduler::Wait(int milliseconds)
{
    if (!m_pStack->IsCurrent()) StopOnEngineStackMisuse("a wait off the engine's own stack would nest an event loop");
    m_shared.SetTimer(SharedTimerId(kIdsPerEngine), milliseconds, [this] { ResumeAfterWait(); });
    if (!m_pStack->Suspend()) throw CWaitCancelled{};
}

void CEngineScheduler::ResumeAfterWait()
{
    m_pStack->Resume();
    TellIfFree();
}

void CEngineScheduler::CancelWaits()
{
    if (!m_pStack->IsSuspended()) return;
    // The cancelled engine waits no more, so its work is done after one cancel.
    m_shared.KillTimer(SharedTimerId(kIdsPerEngine));
    m_pStack->Cancel();
    if (m_pStack->IsSuspended()) StopOnEngineStackMisuse("an engine waited again after its wait was cancelled");
    TellIfFree();
}

void CEngineScheduler::TellIfFree()
{
    if (m_pStack->IsFree() && m_onFree) m_onFree();
}

}  // namespace kestrel
