#pragma once
// A pseudo-terminal for tests: the test plays the handset on the master side.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

class CPtyPair {
public:
    CPtyPair()
    {
        m_nMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_nMaster >= 0 && grantpt(m_nMaster) == 0 && unlockpt(m_nMaster) == 0)
            m_strSlave = ptsname(m_nMaster);
        // Hold the slave open so the master does not see a hang-up between the tool's opens.
        if (!m_strSlave.empty()) m_nSlaveHold = open(m_strSlave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~CPtyPair()
    {
        CloseMaster();
        if (m_nSlaveHold >= 0) close(m_nSlaveHold);
    }
    CPtyPair(const CPtyPair&) = delete;
    CPtyPair& operator=(const CPtyPair&) = delete;

    bool Ok() const { return m_nMaster >= 0 && m_nSlaveHold >= 0; }
    const std::string& SlavePath() const { return m_strSlave; }
    int Master() const { return m_nMaster; }

    // Unplugs the handset: the tool sees end-of-file and a hang-up.
    void HangUp()
    {
        if (m_nSlaveHold >= 0) close(m_nSlaveHold);
        m_nSlaveHold = -1;
        CloseMaster();
    }

    void Send(const std::vector<uint8_t>& bytes) const
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(m_nMaster, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    // Everything the tool wrote until `want` bytes arrived or nothing came for idleMs.
    std::vector<uint8_t> Receive(std::size_t want, int idleMs = 500) const
    {
        std::vector<uint8_t> out;
        while (out.size() < want) {
            pollfd p{m_nMaster, POLLIN, 0};
            if (poll(&p, 1, idleMs) <= 0) break;
            uint8_t buf[4096];
            const ssize_t n = read(m_nMaster, buf, sizeof buf);
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

    termios SLineSettings() const
    {
        termios t{};
        tcgetattr(m_nMaster, &t);
        return t;
    }

private:
    void CloseMaster()
    {
        if (m_nMaster >= 0) close(m_nMaster);
        m_nMaster = -1;
    }

    int m_nMaster = -1;
    int m_nSlaveHold = -1;
    std::string m_strSlave;
};

}  // namespace kestrel::test
