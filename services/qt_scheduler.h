#pragma once
// The engine's scheduler on the Qt event loop, shared by the window and the command line.

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "protocol/scheduler.h"

namespace kestrel {

class CQtScheduler final : public QObject, public IScheduler {
public:
    CQtScheduler();
    ~CQtScheduler() override;

    void Post(Task task) override;
    void SetTimer(int id, int milliseconds, Task onExpiry) override;
    void KillTimer(int id) override;
    int64_t NowMs() const override;
    // A nested event loop: the window keeps painting and posted work keeps arriving.
    void Wait(int milliseconds) override;

protected:
    bool event(QEvent* e) override;

private:
    struct STimer {
        std::unique_ptr<QTimer> pTimer;
        Task task;
    };
    std::map<int, STimer> m_timers;
    QElapsedTimer m_clock;

    // Posted tasks wait here, in order; one Qt event runs one of them, so that a task that
    // waits in a nested loop does not hold back the ones after it.
    std::mutex m_postLock;
    std::deque<Task> m_posted;
    bool m_bWakePending = false;
};

}  // namespace kestrel
