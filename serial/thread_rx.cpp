#include "thread_rx.h"

#include <array>
#include <chrono>

#include "log_queue.h"
#include "rx_owner.h"
#include "serial_port.h"

namespace kestrel {

namespace {
constexpr std::size_t kReadBufferSize = 512;
}  // namespace

CThreadRX::CThreadRX(int linkId, const std::atomic<bool>& receiveRun, std::chrono::microseconds burstPause)
    : m_nLinkId(linkId), m_bReceiveRun(receiveRun), m_burstPause(burstPause), m_thread([this] { Run(); })
{
}

CThreadRX::~CThreadRX()
{
    {
        std::lock_guard guard(m_lock);
        m_bCancelled = true;
        m_bPauseRequested = false;
        m_bPauseAsked = false;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void CThreadRX::Start(IRxOwner* owner, CSerialPort* port, CLogQueue* logQueue)
{
    {
        std::lock_guard guard(m_lock);
        m_pOwner = owner;
        m_pPort = port;
        m_pLogQueue = logQueue;
        m_bStarted = true;
    }
    m_changed.notify_all();
}

bool CThreadRX::WaitUntilEnded(int timeoutMs)
{
    std::unique_lock guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return m_bEnded; });
}

bool CThreadRX::Pause()
{
    std::unique_lock guard(m_lock);
    if (m_bEnded) return true;
    m_bPauseRequested = true;
    m_bPauseAsked = true;
    // Before Start the thread has not touched the port; it parks before it first does.
    if (!m_bStarted) return true;
    m_pPort->InterruptWait();
    return m_changed.wait_for(guard, kPauseLimit, [this] { return m_bParked || m_bEnded; });
}

void CThreadRX::Resume()
{
    {
        std::lock_guard guard(m_lock);
        m_bPauseRequested = false;
        m_bPauseAsked = false;
    }
    m_changed.notify_all();
}

void CThreadRX::Run()
{
    {
        std::unique_lock guard(m_lock);
        m_changed.wait(guard, [this] { return m_bStarted || m_bCancelled; });
        if (!m_bStarted) {
            m_bEnded = true;
            return;
        }
    }
    m_bAlive = true;
    // A speed change may already be under way; the port is only looked at once it is done.
    ParkIfAsked();
    if (!m_pPort->IsOpen()) {
        // Nothing to wait on: the port closed before the thread got to it. That is a failure
        // only while the link is meant to run; a run that ended first closed it on purpose.
        if (m_bReceiveRun) Log(kLogStatus, "\nFail to set Comm mask\n\n");
    } else if (m_bReceiveRun) {
        Loop();
    }
    if (m_pOwner) m_pOwner->PostRxThreadEnd(m_nLinkId);
    {
        std::lock_guard guard(m_lock);
        m_bAlive = false;
        m_bEnded = true;
    }
    m_changed.notify_all();
}

void CThreadRX::Loop()
{
    bool reportedHangUp = false;
    for (;;) {
        ParkIfAsked();
        if (!m_pPort->IsOpen()) break;
        switch (m_pPort->WaitForInput()) {
        case PortWait::Input:
            DrainBurst();
            break;
        case PortWait::HangUp:
            // The device is gone; later waits only end when the port is closed or we are paused.
            if (!reportedHangUp) {
                Log(kLogError, "\n[RX]The port was disconnected\n");
                if (m_pOwner) m_pOwner->PostLinkFault(LinkFault::HangUp, m_pPort->Generation());
            }
            reportedHangUp = true;
            break;
        case PortWait::Interrupted:
            break;
        }
        if (!m_bReceiveRun) break;
    }
}

void CThreadRX::DrainBurst()
{
    std::array<uint8_t, kReadBufferSize> buffer;
    m_pPort->ResetDeframer();
    bool feeding = true;
    // Reads are 5 ms apart however long the work between them took, so that a steady stream
    // of replies is not slowed by it; after a late one the full pause is kept again.
    using Clock = std::chrono::steady_clock;
    auto nextRead = Clock::now() + m_burstPause;
    for (;;) {
        if (m_burstPause.count() > 0) std::this_thread::sleep_until(nextRead);
        // A line that never goes quiet must not keep a speed change waiting.
        if (m_bPauseAsked) return;
        const std::size_t n = m_pPort->ReadAvailable(buffer.data(), buffer.size());
        if (n == 0) return;
        if (feeding) feeding = m_pPort->Deframe(buffer.data(), static_cast<int>(n));
        nextRead += m_burstPause;
        if (const auto now = Clock::now(); nextRead <= now) nextRead = now + m_burstPause;
    }
}

void CThreadRX::ParkIfAsked()
{
    std::unique_lock guard(m_lock);
    if (!m_bPauseRequested) return;
    m_bParked = true;
    m_changed.notify_all();
    m_changed.wait(guard, [this] { return !m_bPauseRequested; });
    m_bParked = false;
}

void CThreadRX::Log(int kind, const char* text)
{
    if (m_pLogQueue && m_pLogQueue->Push(kind, text) && m_pOwner) m_pOwner->PostLogMessage();
}

}  // namespace kestrel
