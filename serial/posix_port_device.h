#pragma once
// IPortDevice on a POSIX terminal device (USB serial adapters, ttyS, pseudo-terminals).

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/types.h>
#include <termios.h>

#include <atomic>
#include <functional>
#include <shared_mutex>

#include "port_device.h"

namespace kestrel {

// The system calls whose failures matter, replaceable so tests can inject EINTR, EAGAIN
// and short writes.
struct SPortSysCalls {
    std::function<ssize_t(int, const void*, std::size_t)> write = ::write;
    std::function<int(pollfd*, nfds_t, int)> poll = ::poll;
    std::function<int(unsigned int, int)> eventfd = ::eventfd;
};

class CPosixPortDevice final : public IPortDevice {
public:
    explicit CPosixPortDevice(SPortSysCalls sys = {});
    ~CPosixPortDevice() override;
    CPosixPortDevice(const CPosixPortDevice&) = delete;
    CPosixPortDevice& operator=(const CPosixPortDevice&) = delete;

    PortOpenError Open(const std::string& path, const SLineSettings& settings) override;
    void Close() override;
    bool Write(const uint8_t* data, std::size_t length, int deadlineMs) override;
    std::size_t Read(uint8_t* buffer, std::size_t length) override;
    PortWait WaitForInput() override;
    void Interrupt() override;

private:
    void DrainWake();

    SPortSysCalls m_sys;
    int m_nWakeFd = -1;
    std::atomic<bool> m_bClosing{false};  // keeps waiters out while Close waits for the lock
    // Shared by readers and writers, exclusive for Close, so the descriptor is never
    // closed under a thread that is polling it.
    std::shared_mutex m_fdLock;
    int m_nFd = -1;
    termios m_originalSettings{};  // the device's line settings before Open, restored by Close
    // Written under a shared hold of m_fdLock (the descriptor cannot change meanwhile), reset
    // under the exclusive one.
    std::atomic<bool> m_bHungUp{false};
};

}  // namespace kestrel
