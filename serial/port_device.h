#pragma once
// The operating system's serial device behind a small interface, so the link can be
// exercised on pseudo-terminals and with injected failures.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

struct SLineSettings {
    uint32_t dwBaudRate = 57600;
    uint8_t byByteSize = 8;
    uint8_t byStopBits = 0;  // 0: one stop bit
    uint8_t byParity = 0;    // 0: none
};

enum class PortOpenError {
    None,
    NotFound,      // no such device
    Busy,          // another process holds it
    Permission,    // the user may not open it
    BadSettings,   // opened, but the line settings were refused
    OwnTerminal,   // the terminal this process runs in, never a handset
    Other,
};

enum class PortWait {
    Input,        // bytes are queued
    Interrupted,  // Interrupt() or Close() was called
    HangUp,       // the device went away; later waits only end on Interrupt() or Close()
};

class IPortDevice {
public:
    virtual ~IPortDevice() = default;

    // Exclusive open, raw line at the given settings, modem control lines off, queues flushed.
    virtual PortOpenError Open(const std::string& path, const SLineSettings& settings) = 0;
    // Discards queued input, gives the device back its line settings from before Open and
    // closes; wakes a thread blocked in WaitForInput first.
    virtual void Close() = 0;
    // Returns when every byte has been taken or the deadline has passed.
    virtual bool Write(const uint8_t* data, std::size_t length, int deadlineMs) = 0;
    // What is queued, up to length bytes; never waits for more.
    virtual std::size_t Read(uint8_t* buffer, std::size_t length) = 0;
    // Blocks without a time limit; may be called from another thread than the writer.
    virtual PortWait WaitForInput() = 0;
    virtual void Interrupt() = 0;
};

}  // namespace kestrel
