#pragma once
// The port and its receive thread for one command-line request.

#include <atomic>
#include <memory>

#include "blocking_rx_owner.h"
#include "services/port_options.h"
#include "serial/log_queue.h"
#include "serial/serial_port.h"
#include "serial/thread_rx.h"

namespace kestrel {

class CCliOutput;

class CCliLink {
public:
    CCliLink(CCliOutput& out, const CPortOptions& options);
    ~CCliLink();
    CCliLink(const CCliLink&) = delete;
    CCliLink& operator=(const CCliLink&) = delete;

    // Opens the port and starts reading; on failure says why in the log.
    bool Open();
    CSerialPort& Port() { return m_port; }
    CBlockingRxOwner& Owner() { return m_owner; }

private:
    CCliOutput& m_out;
    CLogQueue m_logQueue;
    CBlockingRxOwner m_owner;
    CSerialPort m_port;
    std::atomic<bool> m_bReceiveRun{false};
    std::unique_ptr<CThreadRX> m_pThreadRX;
};

}  // namespace kestrel
