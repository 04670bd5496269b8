#pragma once
// A scheduler that hands everything to another and reports the end of every wait, so the
// window can take up what it held back while the engine waited.

#include <functional>
#include <utility>

#include "protocol/scheduler.h"

namespace kestrel {

class CWaitReportingScheduler final : public IScheduler {
public:
    CWaitReportingScheduler(IScheduler& scheduler, std::function<void()> onWaitEnded)
        : m_scheduler(scheduler), m_onWaitEnded(std::move(onWaitEnded))
    {
    }

    void Post(Task task) override { m_scheduler.Post(std::move(task)); }
    void SetTimer(int id, int milliseconds, Task onExpiry) override { m_scheduler.SetTimer(id, milliseconds, std::move(onExpiry)); }
    void KillTimer(int id) override { m_scheduler.KillTimer(id); }
    int64_t NowMs() const override { return m_scheduler.NowMs(); }
    void Wait(int milliseconds) override
    {
        m_scheduler.Wait(milliseconds);
        m_onWaitEnded();
    }

private:
    IScheduler& m_scheduler;
    std::function<void()> m_onWaitEnded;
};

}  // namespace kestrel
