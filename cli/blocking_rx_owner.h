#pragma once
// Receives what the link posts and hands it to a command that waits for it.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "serial/log_queue.h"
#include "serial/rx_owner.h"

namespace kestrel {

class CCliOutput;

class CBlockingRxOwner final : public IRxOwner {
public:
    explicit CBlockingRxOwner(CLogQueue& logQueue, CCliOutput& out) : m_logQueue(logQueue), m_out(out) {}

    void PostRxPacket(const SRxPacket& packet, uint64_t generation) override;
    void PostLogMessage() override;
    void PostRxThreadEnd(int linkId) override;
    // A single request has no run to end; a failed link shows as no reply.
    void PostLinkFault(LinkFault, uint64_t) override { m_changed.notify_all(); }

    // Prints the log lines that arrive meanwhile; returns the first reply, or nullopt when
    // none came before the deadline.
    std::optional<SRxPacket> WaitForReply(std::chrono::milliseconds timeout);
    // Prints every log line still waiting.
    void DrainLog();

private:
    CLogQueue& m_logQueue;
    CCliOutput& m_out;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<SRxPacket> m_packets;
    int m_nLogNotices = 0;
};

}  // namespace kestrel
