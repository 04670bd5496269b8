#include "blocking_rx_owner.h"

#include "cli_output.h"

namespace kestrel {

void CBlockingRxOwner::PostRxPacket(const SRxPacket& packet, uint64_t)
{
    {
        std::lock_guard g(m_lock);
        m_packets.push_back(packet);
    }
    m_changed.notify_all();
}

void CBlockingRxOwner::PostLogMessage()
{
    {
        std::lock_guard g(m_lock);
        ++m_nLogNotices;
    }
    m_changed.notify_all();
}

void CBlockingRxOwner::PostRxThreadEnd(int) { m_changed.notify_all(); }

void CBlockingRxOwner::DrainLog()
{
    int notices;
    {
        std::lock_guard g(m_lock);
        notices = m_nLogNotices;
        m_nLogNotices = 0;
    }
    // One line per notice, as the window takes them.
    CLogEntry entry;
    for (int i = 0; i < notices; ++i)
        if (m_logQueue.Pop(entry)) m_out.Log(entry.nKind, entry.strText);
}

std::optional<SRxPacket> CBlockingRxOwner::WaitForReply(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        DrainLog();
        std::unique_lock g(m_lock);
        if (!m_packets.empty()) {
            SRxPacket p = m_packets.front();
            m_packets.pop_front();
            return p;
        }
        if (!m_changed.wait_until(g, deadline, [this] { return !m_packets.empty() || m_nLogNotices > 0; })) {
            return std::nullopt;
        }
    }
}

}  // namespace kestrel
