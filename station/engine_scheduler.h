#pragma once
// One engine's share of the process's scheduler: everything goes to the shared one, but the
// engine's timer ids are moved into a range of its own, so engines never stop or replace
// each other's timers.

#include "protocol/scheduler.h"

namespace kestrel {

class CEngineScheduler final : public IScheduler {
public:
    // Ids an engine may use: 0 to kIdsPerEngine - 1.
    static constexpr int kIdsPerEngine = 16;

    CEngineScheduler(IScheduler& shared, int engineIndex);

    void Post(Task task) override;
    void SetTimer(int id, int milliseconds, Task onExpiry) override;
    void KillTimer(int id) override;
    int64_t NowMs() const override;
    void Wait(int milliseconds) override;

private:
    IScheduler& m_shared;
    const int m_nIdBase;
};

}  // namespace kestrel
