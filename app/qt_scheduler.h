#pragma once
// The engine's scheduler on the Qt event loop, shared by the window and the command line.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

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

private:
    struct Timer {
        std::unique_ptr<QTimer> pTimer;
        Task task;
    };
    std::map<int, Timer> m_timers;
    QElapsedTimer m_clock;
};

}  // namespace kestrel
