#pragma once
// Time and events for the download engine: one-shot timers by id, tasks posted from any
// thread, a monotonic clock and waits. The window, the command line and the tests each
// bring their own.

#include <cstdint>
#include <functional>

namespace kestrel {

// Thrown by a Wait that was cancelled (the engine's port is abandoned or goes away): the
// engine unwinds to where its work began, and its run ends as stopped without waiting again.
struct CWaitCancelled {};

class IScheduler {
public:
    using Task = std::function<void()>;

    virtual ~IScheduler() = default;
    // Runs the task later in the engine's thread. Safe from any thread.
    virtual void Post(Task task) = 0;
    // Starts the one-shot timer id, replacing one of the same id that is still pending.
    virtual void SetTimer(int id, int milliseconds, Task onExpiry) = 0;
    virtual void KillTimer(int id) = 0;
    // Milliseconds of a monotonic clock.
    virtual int64_t NowMs() const = 0;
    // Returns after the given time; posted tasks and timers keep being served meanwhile. May
    // throw CWaitCancelled instead.
    virtual void Wait(int milliseconds) = 0;
};

}  // namespace kestrel
