#pragma once
// SIGINT, SIGTERM and SIGHUP as events of the Qt event loop: the handler only writes a byte, the
// loop reads it and calls back.

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace kestrel {

class CInterruptSignals {
public:
    // onSignal runs in the event loop, once per signal received.
    explicit CInterruptSignals(std::function<void()> onSignal);
    ~CInterruptSignals();
    CInterruptSignals(const CInterruptSignals&) = delete;
    CInterruptSignals& operator=(const CInterruptSignals&) = delete;

    bool IsReady() const { return m_pNotifier != nullptr; }

private:
    std::unique_ptr<QSocketNotifier> m_pNotifier;
};

}  // namespace kestrel
