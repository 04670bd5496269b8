#include "qt_scheduler.h"

#include <QEventLoop>
#include <QMetaObject>

namespace kestrel {

CQtScheduler::CQtScheduler() { m_clock.start(); }

CQtScheduler::~CQtScheduler() = default;

void CQtScheduler::Post(Task task)
{
    QMetaObject::invokeMethod(this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

void CQtScheduler::SetTimer(int id, int milliseconds, Task onExpiry)
{
    Timer& timer = m_timers[id];
    if (!timer.pTimer) {
        timer.pTimer = std::make_unique<QTimer>();
        timer.pTimer->setSingleShot(true);
        timer.pTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.pTimer.get(), &QTimer::timeout, this, [this, id] {
            // The task may set this very timer again, so it runs from a copy.
            Task task = m_timers[id].task;
            if (task) task();
        });
    }
    timer.task = std::move(onExpiry);
    timer.pTimer->start(milliseconds);
}

void CQtScheduler::KillTimer(int id)
{
    auto it = m_timers.find(id);
    if (it != m_timers.end()) it->second.pTimer->stop();
}

int64_t CQtScheduler::NowMs() const { return m_clock.elapsed(); }

void CQtScheduler::Wait(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace kestrel
