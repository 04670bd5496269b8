#pragma once
// Runs kestrel-handset-sim (or another program) as a child process for the end-to-end tests,
// and opens its slave the way the tool does.

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

extern char** environ;

namespace kestrel::test {

using Bytes = std::vector<uint8_t>;

class CChildProcess {
public:
    explicit CChildProcess(const std::vector<std::string>& argv)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        m_nOut = out[0];
    }
    ~CChildProcess()
    {
        if (m_pid > 0 && !m_optStatus) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_nOut >= 0) close(m_nOut);
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }

    // The next line of standard output, without its end; nullopt after the timeout or at the end.
    std::optional<std::string> ReadLine(int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (const auto eol = m_strBuffer.find('\n'); eol != std::string::npos) {
                std::string line = m_strBuffer.substr(0, eol);
                m_strBuffer.erase(0, eol + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return std::nullopt;
            pollfd p{m_nOut, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buf[512];
            const ssize_t n = read(m_nOut, buf, sizeof buf);
            if (n <= 0) return std::nullopt;
            m_strBuffer.append(buf, static_cast<std::size_t>(n));
        }
    }
    // Everything left on standard output until the child closes it.
    std::string ReadRest(int timeoutMs)
    {
        std::string all;
        while (auto line = ReadLine(timeoutMs)) all += *line + '\n';
        return all;
    }

    // The exit code, or nullopt when the child is still running after the timeout (or was
    // ended by a signal: -signal).
    std::optional<int> Wait(int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!m_optStatus) {
            int status = 0;
            const pid_t r = waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_optStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
                break;
            }
            if (r < 0 || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return m_optStatus;
    }

private:
    pid_t m_pid = -1;
    int m_nOut = -1;
    std::string m_strBuffer;
    std::optional<int> m_optStatus;
};

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
