#pragma once
// Opens the simulator's slave the way the tool does, for the simulator's process tests.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"

namespace kestrel::test {

using Bytes = std::vector<uint8_t>;

// The slave opened as the tool opens its port: exclusive, locked, raw 8N1, queues flushed.
class CToolPort {
public:
    CToolPort(const std::string& path, speed_t speed)
    {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return;
        termios tio{};
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 || tcgetattr(fd, &tio) != 0) {
            close(fd);
            return;
        }
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL | CRTSCTS);
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        if (tcsetattr(fd, TCSANOW, &tio) != 0) {
            close(fd);
            return;
        }
        tcflush(fd, TCIOFLUSH);
        m_nFd = fd;
    }
    ~CToolPort()
    {
        if (m_nFd >= 0) close(m_nFd);
    }
    CToolPort(const CToolPort&) = delete;
    CToolPort& operator=(const CToolPort&) = delete;

    bool Ok() const { return m_nFd >= 0; }
    int Fd() const { return m_nFd; }

    void Send(const Bytes& bytes) const
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(m_nFd, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            pollfd p{m_nFd, POLLOUT, 0};
            if (poll(&p, 1, 1000) <= 0) return;
        }
    }
    // One reply: bytes up to the second 0x7E, or what came before the timeout.
    Bytes Reply(int timeoutMs = 2000) const { return Read(timeoutMs, true); }
    // Everything that arrives within the time.
    Bytes ReadFor(int ms) const { return Read(ms, false); }

private:
    Bytes Read(int timeoutMs, bool untilFrame) const
    {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int flags = 0;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return out;
            pollfd p{m_nFd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            if (!(p.revents & POLLIN)) return out;
            uint8_t buf[256];
            const ssize_t n = read(m_nFd, buf, sizeof buf);
            if (n <= 0) return out;
            for (ssize_t i = 0; i < n; ++i) {
                out.push_back(buf[i]);
                if (buf[i] == 0x7E && ++flags == 2 && untilFrame) return out;
            }
        }
    }

    int m_nFd = -1;
};

inline std::vector<std::string> ReadLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh directory under the temporary folder, removed with its files at the end.
class CTempDir {
public:
    CTempDir()
    {
        char tmpl[] = "/tmp/kestrel-sim-XXXXXX";
        if (mkdtemp(tmpl)) m_strPath = tmpl;
    }
    ~CTempDir()
    {
        std::error_code ec;
        if (!m_strPath.empty()) std::filesystem::remove_all(m_strPath, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    std::string operator/(const std::string& name) const { return m_strPath + "/" + name; }

private:
    std::string m_strPath;
};

}  // namespace kestrel::test
