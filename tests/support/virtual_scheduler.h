#pragma once
// A scheduler on a virtual clock: hours of timeouts run in milliseconds. Before time moves
// on, the settle hook lets work that a real thread is doing (the receive thread) arrive.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "protocol/scheduler.h"

namespace kestrel::test {

class CVirtualScheduler final : public IScheduler {
public:
    void SetSettleHook(std::function<void()> settle) { m_settle = std::move(settle); }

    void Post(Task task) override
    {
        std::lock_guard g(m_lock);
        m_posted.push_back(std::move(task));
    }
    void SetTimer(int id, int milliseconds, Task onExpiry) override
    {
        std::lock_guard g(m_lock);
        m_timers[id] = STimer{m_nNow + milliseconds, m_nSeq++, std::move(onExpiry)};
    }
    void KillTimer(int id) override
    {
        std::lock_guard g(m_lock);
        m_timers.erase(id);
    }
    int64_t NowMs() const override { return m_nNow; }
    void Wait(int milliseconds) override { RunFor(milliseconds); }

    bool TimerPending(int id)
    {
        std::lock_guard g(m_lock);
        return m_timers.count(id) != 0;
    }
    int64_t TimerDue(int id)
    {
        std::lock_guard g(m_lock);
        auto it = m_timers.find(id);
        return it == m_timers.end() ? -1 : it->second.nDue;
    }

    // Runs posted tasks and every timer due within the next milliseconds, in order.
    void RunFor(int64_t milliseconds)
    {
        const int64_t end = m_nNow + milliseconds;
        for (;;) {
            RunPosted();
            Task task;
            {
                std::lock_guard g(m_lock);
                auto next = m_timers.end();
                for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
                    if (it->second.nDue <= end &&
                        (next == m_timers.end() || std::pair(it->second.nDue, it->second.nSeq) <
                                                       std::pair(next->second.nDue, next->second.nSeq)))
                        next = it;
                if (next == m_timers.end()) break;
                m_nNow = next->second.nDue;
                task = std::move(next->second.task);
                m_timers.erase(next);
            }
            task();
        }
        // A nested wait may already have moved the clock past the end.
        if (m_nNow < end) m_nNow = end;
    }
    // Runs what has been posted, after letting real threads deliver.
    void RunPosted()
    {
        for (;;) {
            if (m_settle) m_settle();
            std::vector<Task> batch;
            {
                std::lock_guard g(m_lock);
                batch.swap(m_posted);
            }
            if (batch.empty()) return;
            for (auto& t : batch) t();
        }
    }

private:
    struct STimer {
        int64_t nDue;
        uint64_t nSeq;
        Task task;
    };

    std::mutex m_lock;
    int64_t m_nNow = 0;
    uint64_t m_nSeq = 0;
    std::map<int, STimer> m_timers;
    std::vector<Task> m_posted;
    std::function<void()> m_settle;
};

}  // namespace kestrel::test
