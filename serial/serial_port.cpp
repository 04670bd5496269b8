#include "serial_port.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "log_queue.h"
#include "posix_port_device.h"
#include "rx_owner.h"

namespace kestrel {

CSerialPort::CSerialPort(std::unique_ptr<IPortDevice> device)
    : m_device(device ? std::move(device) : std::make_unique<CPosixPortDevice>())
{
}

CSerialPort::~CSerialPort() { CloseAll(); }

void CSerialPort::SetLineSettings(uint8_t port, uint32_t baudRate, uint8_t byteSize, uint8_t stopBits, uint8_t parity)
{
    m_byPort = port;
    m_settings = SLineSettings{baudRate, byteSize, stopBits, parity};
}

bool CSerialPort::PrepareEvents(IRxOwner* owner, CLogQueue* logQueue)
{
    m_pOwner = owner;
    m_pLogQueue = logQueue;
    return true;
}

bool CSerialPort::OpenPort()
{
    m_deframer.Reset();
    m_bPortOpen = false;
    m_strDevicePath = m_resolver ? m_resolver(m_byPort) : std::string{};
    if (m_strDevicePath.empty()) {
        m_eLastOpenError = PortOpenError::NotFound;
        return false;
    }
    m_eLastOpenError = m_device->Open(m_strDevicePath, m_settings);
    if (m_eLastOpenError != PortOpenError::None) return false;
    try {
        Sleep(100);
    } catch (...) {
        // A sleep that ends the run's work early leaves no device open behind it.
        m_device->Close();
        throw;
    }
    ++m_nGeneration;
    m_bPortOpen = true;
    return true;
}

bool CSerialPort::ClosePort()
{
    if (!m_bPortOpen) return false;
    // The flag drops before the wake-up, so a woken receive thread sees the port gone.
    m_bPortOpen = false;
    m_device->Close();
    return true;
}

bool CSerialPort::CloseAll()
{
    ClosePort();
    return true;
}

bool CSerialPort::ChangeBaudRate(uint32_t baudRate)
{
    if (baudRate == m_settings.dwBaudRate) return true;
    ClosePort();
    Sleep(100);
    SetLineSettings(m_byPort, baudRate, 8, 0, 0);
    if (!OpenPort()) return false;
    Sleep(500);
    return true;
}

bool CSerialPort::WriteBlock(const uint8_t* data, std::size_t length)
{
    if (!m_bPortOpen) return false;
    if (m_device->Write(data, length, 1000)) return true;
    // Bytes the handset never got leave the run waiting for a reply that cannot come.
    const uint64_t generation = m_nGeneration;
    if (m_nWriteFaultGeneration != generation && m_pOwner) {
        m_nWriteFaultGeneration = generation;
        m_pOwner->PostLinkFault(LinkFault::WriteFailed, generation);
    }
    return false;
}

bool CSerialPort::WriteByte(uint8_t byte) { return WriteBlock(&byte, 1); }

std::size_t CSerialPort::ReadAvailable(uint8_t* buffer, std::size_t maxLength)
{
    return m_device->Read(buffer, maxLength);
}

void CSerialPort::LogStatus(const std::string& text) { Log(kLogStatus, text); }
void CSerialPort::LogError(const std::string& text) { Log(kLogError, text); }

void CSerialPort::Log(int kind, const std::string& text)
{
    if (text.empty() || !m_pLogQueue) return;
    if (m_pLogQueue->Push(kind, text) && m_pOwner) m_pOwner->PostLogMessage();
}

void CSerialPort::Sleep(int milliseconds)
{
    if (m_sleeper)
        m_sleeper(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool CSerialPort::SendFrame(const uint8_t* payload, std::size_t length, int delayMs)
{
    length %= 65536;
    std::array<uint8_t, kFrameBufferSize> frame;
    const std::size_t n = EncodeFrame({payload, length}, m_eFraming, frame);
    if (n == 0) return false;
    std::copy_n(payload, length, m_lastPayload.begin());
    m_nLastPayloadLength = length;
    ++m_nSentUnits;
    WriteBlock(frame.data(), n);
    if (delayMs > 0) Sleep(delayMs);
    return true;
}

bool CSerialPort::Deframe(const uint8_t* chunk, int length)
{
    if (length <= 0) return true;
    switch (m_deframer.Feed({chunk, static_cast<std::size_t>(length)}, m_eFraming)) {
    case DeframeStatus::Overflow:
        return false;
    case DeframeStatus::Good:
        if (m_pOwner) m_pOwner->PostRxPacket(m_deframer.Packet(), m_nGeneration);
        break;
    case DeframeStatus::Bad:
        LogError("\n[RX]Bad CRC in response packet\n");
        break;
    case DeframeStatus::NeedMore:
        break;
    }
    return true;
}

void CSerialPort::SendRequest(const std::string& logLine, std::span<const uint8_t> payload)
{
    LogStatus(logLine);
    m_eFraming = Framing::Download;
    SendFrame(payload.data(), payload.size(), 0);
}

void CSerialPort::RequestDownloadStart()
{
    const uint8_t payload[] = {START_REQ};
    SendRequest("다운로드 시작 요청", payload);
}

void CSerialPort::RequestJump()
{
    const uint8_t payload[] = {JUMP_REQ};
    SendRequest("Jump 요청", payload);
}

void CSerialPort::RequestErase(uint32_t startAddress, uint32_t length)
{
    uint8_t payload[9] = {ERASE_REQ};
    for (int i = 0; i < 4; ++i) {
        payload[1 + i] = static_cast<uint8_t>(startAddress >> (8 * i));
        payload[5 + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    SendRequest("Flash erase 중.. 잠시만 기다리세요", payload);
}

void CSerialPort::SendTrackedBlock(const BlockPacket& packet)
{
    SendUntrackedBlock(packet);
    const std::size_t n = std::min<std::size_t>(packet.wLength, packet.data.size());
    const uint16_t crc = BlockCrc(packet.data.data(), n);
    m_byCrcHigh = static_cast<uint8_t>(crc >> 8);
    m_byCrcLow = static_cast<uint8_t>(crc & 0xFF);
}

void CSerialPort::SendUntrackedBlock(const BlockPacket& packet)
{
    m_eFraming = Framing::Download;
    ++m_nSentUnits;
    WriteBlock(packet.data.data(), std::min<std::size_t>(packet.wLength, packet.data.size()));
}

void CSerialPort::ResendLastCommand()
{
    SendFrame(m_lastPayload.data(), m_nLastPayloadLength, 0);
    LogStatus("패킷 재전송합니다.");
}

void CSerialPort::SendModeSwitchCommand()
{
    for (char c : kModeSwitchCommand) WriteByte(static_cast<uint8_t>(c));
}

std::string DescribeOpenFailure(PortOpenError error, const std::string& devicePath)
{
    const std::string device = devicePath.empty() ? std::string("the port") : devicePath;
    switch (error) {
    case PortOpenError::None:
        return {};
    case PortOpenError::NotFound:
        if (devicePath.empty()) return "No device is assigned to this port number.";
        return device + " does not exist. Is the handset connected?";
    case PortOpenError::Busy:
        return device + " is in use by another program.";
    case PortOpenError::Permission: {
        std::string groupName = "dialout";
        struct stat st {};
        if (stat(devicePath.c_str(), &st) == 0) {
            // Joining a group helps only where the group may read and write the device, and
            // root's group is no group to join.
            if (st.st_gid == 0 || (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
                char mode[8];
                std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
                return "No permission to open " + device + " (mode " + mode +
                       ", no group to join gives access): install Kestrel's udev rule for handset ports or ask the "
                       "administrator.";
            }
            if (const struct group* g = getgrgid(st.st_gid)) groupName = g->gr_name;
        }
        return "No permission to open " + device + ": add the user to the group " + groupName +
               " and log in again.";
    }
    case PortOpenError::BadSettings:
        return device + " refused the line settings (is it a serial port?).";
    case PortOpenError::OwnTerminal:
        return device + " is the terminal this program runs in, not a handset's port.";
    case PortOpenError::Other:
        break;
    }
    return device + " could not be opened.";
}

}  // namespace kestrel
