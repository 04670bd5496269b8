#pragma once
// Runs one of the project's programs for a test: its standard output line by line, its
// standard error collected, its exit code.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kestrel::test {

struct ChildResult {
    int nExitCode = -1;  // -1 when it did not end in time (it is killed then)
    std::string strOut;  // what was not yet taken with ReadLine
    std::string strErr;
};

class CChildProcess {
public:
    // errFd: where standard error goes instead of being collected (a terminal, say); -1 collects it.
    // workDir: the folder it starts in; empty keeps ours.
    explicit CChildProcess(const std::vector<std::string>& argv, int errFd = -1, const std::string& workDir = {})
    {
        int out[2], err[2] = {-1, errFd};
        if (pipe2(out, O_CLOEXEC) != 0) return;
        if (errFd < 0 && pipe2(err, O_CLOEXEC) != 0) {
            close(out[0]);
            close(out[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (errFd < 0) close(err[1]);
        m_nOut = out[0];
        m_nErr = err[0];
    }
    ~CChildProcess()
    {
        if (m_pid > 0 && !m_optStatus) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_nOut >= 0) close(m_nOut);
        if (m_nErr >= 0) close(m_nErr);
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    // Stops reading standard output, as a reader such as `head` does once it has enough.
    void CloseOutput()
    {
        if (m_nOut >= 0) close(m_nOut);
        m_nOut = -1;
    }
    void Signal(int sig) const
    {
        if (m_pid > 0 && !m_optStatus) kill(m_pid, sig);
    }

    // The next line of standard output, without its end; nullopt after the timeout or at the end.
    std::optional<std::string> ReadLine(int timeoutMs)
    {
        const auto deadline = Deadline(timeoutMs);
        for (;;) {
            if (const auto eol = m_strOut.find('\n'); eol != std::string::npos) {
                std::string line = m_strOut.substr(0, eol);
                m_strOut.erase(0, eol + 1);
                return line;
            }
            if (m_nOut < 0 || !Pump(deadline)) return std::nullopt;
        }
    }
    // The first line of standard output that contains the text; nullopt if none came in time.
    std::optional<std::string> ReadLineWith(const std::string& text, int timeoutMs)
    {
        const auto deadline = Deadline(timeoutMs);
        while (auto line = ReadLine(Left(deadline)))
            if (line->find(text) != std::string::npos) return line;
        return std::nullopt;
    }
    // Everything left on standard output until the child closes it.
    std::string ReadRest(int timeoutMs)
    {
        const auto deadline = Deadline(timeoutMs);
        while (m_nOut >= 0 && Pump(deadline)) {
        }
        std::string rest;
        rest.swap(m_strOut);
        return rest;
    }

    // The exit code (-signal when a signal ended it), or nullopt while it still runs after the timeout.
    std::optional<int> Wait(int timeoutMs)
    {
        const auto deadline = Deadline(timeoutMs);
        while (!m_optStatus && m_pid > 0) {
            int status = 0;
            const pid_t r = waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_optStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
                break;
            }
            if (r < 0 || Left(deadline) <= 0) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return m_optStatus;
    }

    // Waits for the end, collecting both outputs.
    ChildResult Finish(int timeoutMs)
    {
        const auto deadline = Deadline(timeoutMs);
        ChildResult r;
        r.strOut = ReadRest(Left(deadline));
        r.strErr = m_strErr;
        r.nExitCode = Wait(Left(deadline)).value_or(-1);
        return r;
    }

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    static TimePoint Deadline(int ms) { return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms); }
    static int Left(TimePoint deadline)
    {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        return ms > 0 ? static_cast<int>(ms) : 0;
    }
    // Reads what is there on either output; false at the deadline or when stdout has closed.
    bool Pump(TimePoint deadline)
    {
        const int left = Left(deadline);
        if (left <= 0) return false;
        pollfd fds[2] = {{m_nOut, POLLIN, 0}, {m_nErr, POLLIN, 0}};
        if (poll(fds, 2, left) <= 0) return Left(deadline) > 0;
        Drain(fds[1], m_nErr, m_strErr);
        Drain(fds[0], m_nOut, m_strOut);
        return m_nOut >= 0;
    }
    static void Drain(const pollfd& p, int& fd, std::string& into)
    {
        if (fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) return;
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<std::size_t>(n));
        } else {
            close(fd);
            fd = -1;
        }
    }

    pid_t m_pid = -1;
    int m_nOut = -1;
    int m_nErr = -1;
    std::string m_strOut;
    std::string m_strErr;
    std::optional<int> m_optStatus;
};

}  // namespace kestrel::test
