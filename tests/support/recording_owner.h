#pragma once
// An IRxOwner that records what the link posts and lets a test wait for it.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "serial/frame_codec.h"
#include "serial/rx_owner.h"

namespace kestrel::test {

class CRecordingOwner final : public IRxOwner {
public:
    void PostRxPacket(const SRxPacket& packet, uint64_t generation) override
    {
        std::lock_guard g(m_lock);
        m_generations.push_back(generation);
        m_packets.emplace_back(packet.bytes.begin(), packet.bytes.begin() + static_cast<std::ptrdiff_t>(packet.length));
        m_changed.notify_all();
    }
    void PostLogMessage() override
    {
        std::lock_guard g(m_lock);
        ++m_nLogNotices;
        m_changed.notify_all();
    }
    void PostRxThreadEnd(int linkId) override
    {
        std::lock_guard g(m_lock);
        m_threadEnds.push_back(linkId);
        m_changed.notify_all();
    }
    void PostLinkFault(LinkFault fault, uint64_t generation) override
    {
        std::lock_guard g(m_lock);
        m_faults.emplace_back(fault, generation);
        m_changed.notify_all();
    }

    // Waits until pred() holds (checked under the lock) or the timeout passes.
    template <class Pred>
    bool WaitFor(Pred pred, int timeoutMs = 2000)
    {
        std::unique_lock g(m_lock);
        return m_changed.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return pred(*this); });
    }
    std::vector<std::vector<uint8_t>> Packets()
    {
        std::lock_guard g(m_lock);
        return m_packets;
    }
    int LogNotices()
    {
        std::lock_guard g(m_lock);
        return m_nLogNotices;
    }
    std::vector<uint64_t> Generations()
    {
        std::lock_guard g(m_lock);
        return m_generations;
    }
    std::vector<std::pair<LinkFault, uint64_t>> Faults()
    {
        std::lock_guard g(m_lock);
        return m_faults;
    }
    std::vector<int> ThreadEnds()
    {
        std::lock_guard g(m_lock);
        return m_threadEnds;
    }

    // For use inside WaitFor predicates, which run under the lock.
    std::size_t PacketCount() const { return m_packets.size(); }
    int LogNoticeCount() const { return m_nLogNotices; }
    std::size_t ThreadEndCount() const { return m_threadEnds.size(); }
    std::size_t FaultCount() const { return m_faults.size(); }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::vector<uint8_t>> m_packets;
    int m_nLogNotices = 0;
    std::vector<int> m_threadEnds;
    std::vector<uint64_t> m_generations;
    std::vector<std::pair<LinkFault, uint64_t>> m_faults;
};

}  // namespace kestrel::test
