#include "station/engine_scheduler.h"

#include <utility>

namespace kestrel {
namespace {
// Below this the ids belong to a single engine that uses the shared scheduler directly.
constexpr int kFirstEngineId = 1000;
constexpr int kIdRange = CEngineScheduler::kIdsPerEngine + 1;
}  // namespace

CEngineScheduler::CEngineScheduler(IScheduler& shared, int engineIndex, std::function<void()> onRest)
    : m_shared(shared),
      m_nIdBase(kFirstEngineId + engineIndex * kIdRange),
      m_onRest(std::move(onRest)),
      m_pStack(std::make_shared<CEngineStack>())
{
}

CEngineScheduler::~CEngineScheduler() { m_shared.KillTimer(SharedTimerId(kIdsPerEngine)); }

void CEngineScheduler::Post(Task task)
{
    m_shared.Post([stack = std::weak_ptr<CEngineStack>(m_pStack), task = std::move(task)]() mutable {
        if (auto pStack = stack.lock()) pStack->Run(std::move(task));
    });
}

void CEngineScheduler::SetTimer(int id, int milliseconds, Task onExpiry)
{
    m_shared.SetTimer(SharedTimerId(id), milliseconds,
                      [stack = std::weak_ptr<CEngineStack>(m_pStack), task = std::move(onExpiry)] {
                          if (auto pStack = stack.lock()) pStack->Run(task);
                      });
}

void CEngineScheduler::KillTimer(int id) { m_shared.KillTimer(SharedTimerId(id)); }

int64_t CEngineScheduler::NowMs() const { return m_shared.NowMs(); }

void CEngineScheduler::Wait(int milliseconds)
{
    // Work that runs nested, off the engine's stack, can only wait the old way.
    if (!m_pStack->IsCurrent()) {
        m_shared.Wait(milliseconds);
        return;
    }
    m_shared.SetTimer(SharedTimerId(kIdsPerEngine), milliseconds, [this] { ResumeAfterWait(); });
    m_pStack->Suspend();
}

void CEngineScheduler::ResumeAfterWait()
{
    m_pStack->Resume();
    if (!m_pStack->IsSuspended() && m_onRest) m_onRest();
}

void CEngineScheduler::EndWaits()
{
    while (m_pStack->IsSuspended()) {
        m_shared.KillTimer(SharedTimerId(kIdsPerEngine));
        m_pStack->Resume();
    }
}

}  // namespace kestrel
