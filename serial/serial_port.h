#pragma once
// The one serial link to the handset: the port, the frame codec's state and the requests
// of the download protocol.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "command_packets.h"
#include "frame_codec.h"
#include "port_device.h"

namespace kestrel {

class CLogQueue;
class IRxOwner;

// Waits the link makes between steps; the owner routes them through its scheduler so a
// window keeps painting while it waits.
using Sleeper = std::function<void(int milliseconds)>;
// Device node of a port number; "" when the number has none.
using PortResolver = std::function<std::string(int port)>;

class CSerialPort {
public:
    explicit CSerialPort(std::unique_ptr<IPortDevice> device = nullptr);
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    void SetSleeper(Sleeper sleeper) { m_sleeper = std::move(sleeper); }
    void SetPortResolver(PortResolver resolver) { m_resolver = std::move(resolver); }

    void SetLineSettings(uint8_t port, uint32_t baudRate, uint8_t byteSize, uint8_t stopBits, uint8_t parity);
    void SetPortNumber(uint8_t port) { m_byPort = port; }
    uint32_t BaudRate() const { return m_settings.dwBaudRate; }

    bool PrepareEvents(IRxOwner* owner, CLogQueue* logQueue);
    bool OpenPort();
    bool ClosePort();
    bool CloseAll();
    // False when the port did not open again at the new rate.
    bool ChangeBaudRate(uint32_t baudRate);
    bool IsOpen() const { return m_bPortOpen; }
    // One number per successful open: what was read on an earlier one belongs to no request
    // sent on this one.
    uint64_t Generation() const { return m_nGeneration; }
    // Why the last OpenPort failed, and on which device; None after a success.
    PortOpenError LastOpenError() const { return m_eLastOpenError; }
    const std::string& LastDevicePath() const { return m_strDevicePath; }

    bool WriteByte(uint8_t byte);
    bool WriteBlock(const uint8_t* data, std::size_t length);
    std::size_t ReadAvailable(uint8_t* buffer, std::size_t maxLength);
    PortWait WaitForInput() { return m_device->WaitForInput(); }
    void InterruptWait() { m_device->Interrupt(); }

    void LogStatus(const std::string& text);
    void LogError(const std::string& text);

    // Frame codec.
    Framing CurrentFraming() const { return m_eFraming; }
    // False, and nothing sent, for a payload the frame buffer cannot hold.
    bool SendFrame(const uint8_t* payload, std::size_t length, int delayMs);
    // Receive thread only. False after an accumulator overflow: drop the rest of the burst.
    bool Deframe(const uint8_t* chunk, int length);
    void ResetDeframer() { m_deframer.Reset(); }

    // Requests of the download protocol.
    void RequestDownloadStart();
    void RequestJump();
    void RequestErase(uint32_t startAddress, uint32_t length);
    void SendTrackedBlock(const BlockPacket& packet);
    void SendUntrackedBlock(const BlockPacket& packet);
    bool BlockCrcMatches(uint8_t p1, uint8_t p2) const { return p1 == m_byCrcHigh && p2 == m_byCrcLow; }
    void ResendLastCommand();
    void SendModeSwitchCommand();
    // Framed requests and blocks put on the wire so far.
    uint64_t SentUnits() const { return m_nSentUnits; }

private:
    void Sleep(int milliseconds);
    void Log(int kind, const std::string& text);
    void SendRequest(const std::string& logLine, std::span<const uint8_t> payload);

    std::unique_ptr<IPortDevice> m_device;
    Sleeper m_sleeper;
    PortResolver m_resolver;
    IRxOwner* m_pOwner = nullptr;
    CLogQueue* m_pLogQueue = nullptr;

    uint8_t m_byPort = 1;
    SLineSettings m_settings;
    std::atomic<bool> m_bPortOpen{false};
    std::atomic<uint64_t> m_nGeneration{0};
    uint64_t m_nWriteFaultGeneration = 0;  // the generation whose failed write was reported
    PortOpenError m_eLastOpenError = PortOpenError::None;
    std::string m_strDevicePath;

    std::atomic<Framing> m_eFraming{Framing::Dm};
    std::array<uint8_t, kMaxFramePayload> m_lastPayload{};
    std::size_t m_nLastPayloadLength = 0;
    CDeframer m_deframer;

    uint64_t m_nSentUnits = 0;
    uint8_t m_byCrcHigh = 0;
    uint8_t m_byCrcLow = 0;
};

// One line for the operator on why a port did not open: the device and what to do.
std::string DescribeOpenFailure(PortOpenError error, const std::string& devicePath);

}  // namespace kestrel
