#pragma once
// The handset's end of the line: the master of a pseudo-terminal whose slave the tool opens.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kestrel::sim {

class CPtyLine {
public:
    CPtyLine() = default;
    ~CPtyLine() { Close(); }
    CPtyLine(const CPtyLine&) = delete;
    CPtyLine& operator=(const CPtyLine&) = delete;

    // A new pseudo-terminal in raw mode; false with a reason when the system refuses. After
    // an Unplug its slave has another name than the line before it.
    bool Open(std::string& error);
    // The handset leaves the bus: the tool's open slave sees a hang-up and the node goes; its
    // name stays taken until the next Open, so the handset never comes back under it.
    void Unplug();
    // Unplugs and lets the name go as well.
    void Close();
    bool IsOpen() const { return m_nMaster >= 0; }

    int MasterFd() const { return m_nMaster; }
    // Readable when the tool has closed the slave (see OnSlaveEvents).
    int WatchFd() const { return m_nWatch; }
    const std::string& SlavePath() const { return m_strSlave; }

    // The speed the tool set on the slave, in bit/s; 0 when it is none of the usual ones.
    uint32_t Baud() const;
    // Bytes read, 0 when none are waiting, -1 when the line failed.
    long Read(uint8_t* buffer, std::size_t length);
    // Writes everything within the deadline; false when the tool does not take it.
    bool Write(std::span<const uint8_t> bytes, int deadlineMs);
    // Drains the slave watch. The tool makes the slave exclusive; because this side holds
    // the slave open too, the flag would outlive the tool's close and refuse its reopen
    // (to anyone but root), so it is lifted whenever the tool closes.
    void OnSlaveEvents();

private:
    int m_nMaster = -1;
    int m_nSlaveHold = -1;  // keeps the master from seeing a hang-up between the tool's opens
    int m_nWatch = -1;
    // The hung-up slave of the line before: the kernel reuses a /dev/pts number only once
    // every handle on that slave is closed.
    int m_nRetired = -1;
    std::string m_strSlave;
};

}  // namespace kestrel::sim
