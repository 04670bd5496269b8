#pragma once
// A port with a scriptable handset behind it: it records every write with the line speed,
// and whatever the responder returns arrives as input for the receive thread to read.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "serial/port_device.h"

namespace kestrel::test {

using Bytes = std::vector<uint8_t>;

struct WireWrite {
    Bytes bytes;
    uint32_t dwBaud;
    int64_t nTimeMs;
};

class CScriptedPortDevice final : public IPortDevice {
public:
    // Gets each write; what it returns (if anything) arrives as input.
    using Responder = std::function<std::optional<Bytes>(const Bytes& written, uint32_t baud)>;

    explicit CScriptedPortDevice(std::function<int64_t()> clock) : m_clock(std::move(clock)) {}

    void SetResponder(Responder r)
    {
        std::lock_guard g(m_lock);
        m_responder = std::move(r);
    }
    void FailOpens(bool fail)
    {
        std::lock_guard g(m_lock);
        m_bFailOpen = fail;
    }
    void FailWrites(bool fail)
    {
        std::lock_guard g(m_lock);
        m_bFailWrite = fail;
    }
    // The device goes away: the reader sees a hang-up, writes fail, and it cannot be opened
    // again until FailOpens(false).
    void HangUp()
    {
        std::lock_guard g(m_lock);
        m_bHangUp = true;
        m_bFailWrite = true;
        m_bFailOpen = true;
        m_changed.notify_all();
    }
    // Makes bytes arrive now, as if the handset had sent them on its own.
    void Inject(const Bytes& bytes)
    {
        std::lock_guard g(m_lock);
        m_input.insert(m_input.end(), bytes.begin(), bytes.end());
        ++m_nInputGeneration;
        m_changed.notify_all();
    }
    std::vector<WireWrite> Writes()
    {
        std::lock_guard g(m_lock);
        return m_writes;
    }
    std::vector<std::pair<std::string, uint32_t>> Opens()
    {
        std::lock_guard g(m_lock);
        return m_opens;
    }
    bool IsOpen()
    {
        std::lock_guard g(m_lock);
        return m_bOpen;
    }

    // Blocks (in real time) until the receive thread has read every injected byte and is
    // waiting again, so that everything it posted is in the scheduler's queue.
    void Settle()
    {
        std::unique_lock g(m_lock);
        m_changed.wait_for(g, std::chrono::seconds(5), [this] {
            // After a hang-up, the reader has also come back to wait (it posted the fault first).
            return !m_bOpen || (m_input.empty() && m_nWaitGeneration == m_nInputGeneration &&
                                (!m_bHangUp || (m_bHangUpSeen && m_nWaits > m_nWaitsAtHangUp)));
        });
    }

    PortOpenError Open(const std::string& path, const SLineSettings& settings) override
    {
        std::lock_guard g(m_lock);
        m_opens.emplace_back(path, settings.dwBaudRate);
        if (m_bFailOpen) return PortOpenError::NotFound;
        m_bOpen = true;
        m_bHangUp = false;
        m_bHangUpSeen = false;
        m_bFailWrite = false;
        m_dwBaud = settings.dwBaudRate;
        m_input.clear();
        m_nWaitGeneration = m_nInputGeneration;
        return PortOpenError::None;
    }
    void Close() override
    {
        std::lock_guard g(m_lock);
        m_bOpen = false;
        m_bInterrupt = true;
        m_changed.notify_all();
    }
    bool Write(const uint8_t* data, std::size_t length, int) override
    {
        std::optional<Bytes> reply;
        Responder responder;
        uint32_t baud;
        Bytes bytes(data, data + length);
        {
            std::lock_guard g(m_lock);
            if (!m_bOpen || m_bFailWrite) return false;
            m_writes.push_back({bytes, m_dwBaud, m_clock()});
            responder = m_responder;
            baud = m_dwBaud;
        }
        if (responder) reply = responder(bytes, baud);
        if (reply && !reply->empty()) Inject(*reply);
        return true;
    }
    std::size_t Read(uint8_t* buffer, std::size_t length) override
    {
        std::lock_guard g(m_lock);
        std::size_t n = 0;
        while (n < length && !m_input.empty()) {
            buffer[n++] = m_input.front();
            m_input.pop_front();
        }
        return n;
    }
    PortWait WaitForInput() override
    {
        std::unique_lock g(m_lock);
        ++m_nWaits;
        m_changed.notify_all();
        if (m_input.empty()) {
            m_nWaitGeneration = m_nInputGeneration;
            m_changed.notify_all();
        }
        m_changed.wait(g, [this] { return !m_input.empty() || m_bInterrupt || (m_bHangUp && !m_bHangUpSeen); });
        if (m_bInterrupt) {
            m_bInterrupt = false;
            return PortWait::Interrupted;
        }
        if (m_bHangUp && !m_bHangUpSeen) {
            m_bHangUpSeen = true;
            m_nWaitsAtHangUp = m_nWaits;
            return PortWait::HangUp;
        }
        return PortWait::Input;
    }
    void Interrupt() override
    {
        std::lock_guard g(m_lock);
        m_bInterrupt = true;
        m_changed.notify_all();
    }

private:
    std::function<int64_t()> m_clock;
    std::mutex m_lock;
    std::condition_variable m_changed;
    Responder m_responder;
    bool m_bFailOpen = false;
    bool m_bFailWrite = false;
    bool m_bHangUp = false;
    bool m_bHangUpSeen = false;
    uint64_t m_nWaits = 0;
    uint64_t m_nWaitsAtHangUp = 0;
    bool m_bOpen = false;
    bool m_bInterrupt = false;
    uint32_t m_dwBaud = 0;
    std::deque<uint8_t> m_input;
    uint64_t m_nInputGeneration = 0;
    uint64_t m_nWaitGeneration = 0;
    std::vector<WireWrite> m_writes;
    std::vector<std::pair<std::string, uint32_t>> m_opens;
};

}  // namespace kestrel::test
