#include "station/engine_scheduler.h"

#include <utility>

namespace kestrel {
namespace {
// Below this the ids belong to a single engine that uses the shared scheduler directly.
constexpr int kFirstEngineId = 1000;
}  // namespace

CEngineScheduler::CEngineScheduler(IScheduler& shared, int engineIndex)
    : m_shared(shared), m_nIdBase(kFirstEngineId + engineIndex * kIdsPerEngine)
{
}

void CEngineScheduler::Post(Task task) { m_shared.Post(std::move(task)); }

void CEngineScheduler::SetTimer(int id, int milliseconds, Task onExpiry)
{
    m_shared.SetTimer(m_nIdBase + id, milliseconds, std::move(onExpiry));
}

void CEngineScheduler::KillTimer(int id) { m_shared.KillTimer(m_nIdBase + id); }

int64_t CEngineScheduler::NowMs() const { return m_shared.NowMs(); }

void CEngineScheduler::Wait(int milliseconds) { m_shared.Wait(milliseconds); }

}  // namespace kestrel
