#include "qt_scheduler.h"

#include <QCoreApplication>
#include <QEventLoop>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KESTREL_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define KESTREL_TSAN 1
#endif
#ifdef KESTREL_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace kestrel {
namespace {
const auto kRunPostedEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// The wake-up event is made on the posting thread and read on the loop's; it travels through
// Qt's event queue, whose lock ThreadSanitizer cannot see, so the hand-over is told to it.
void HandOver([[maybe_unused]] const void* pScheduler)
{
#ifdef KESTREL_TSAN
    __tsan_release(const_cast<void*>(pScheduler));
#endif
}

void TakeOver([[maybe_unused]] const void* pScheduler)
{
#ifdef KESTREL_TSAN
    __tsan_acquire(const_cast<void*>(pScheduler));
#endif
}

}  // namespace

CQtScheduler::CQtScheduler() { m_clock.start(); }

CQtScheduler::~CQtScheduler() = default;

void CQtScheduler::Post(Task task)
{
    bool wake = false;
    {
        std::lock_guard guard(m_postLock);
        m_posted.push_back(std::move(task));
        wake = !m_bWakePending;
        m_bWakePending = true;
    }
    if (!wake) return;
    auto* pWake = new QEvent(kRunPostedEvent);
    HandOver(this);
    QCoreApplication::postEvent(this, pWake);
}

bool CQtScheduler::event(QEvent* e)
{
    TakeOver(this);
    if (e->type() != kRunPostedEvent) return QObject::event(e);
    Task task;
    bool more = false;
    {
        std::lock_guard guard(m_postLock);
        if (m_posted.empty()) {
            m_bWakePending = false;
            return true;
        }
        task = std::move(m_posted.front());
        m_posted.pop_front();
        more = !m_posted.empty();
        m_bWakePending = more;
    }
    if (more) QCoreApplication::postEvent(this, new QEvent(kRunPostedEvent));
    task();
    return true;
}

void CQtScheduler::SetTimer(int id, int milliseconds, Task onExpiry)
{
    STimer& timer = m_timers[id];
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
