#pragma once
// Runs one of the project's programs for a test and collects what it printed.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace kestrel::test {

struct ChildResult {
    int nExitCode = -1;  // -1 when it did not exit by itself in time (it is killed then)
    std::string strOut;
    std::string strErr;
};

class CChildProcess {
public:
    explicit CChildProcess(std::vector<std::string> argv) : m_argv(std::move(argv))
    {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> args;
        for (auto& a : m_argv) args.push_back(a.data());
        args.push_back(nullptr);
        if (posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        m_nOut = out[0];
        m_nErr = err[0];
    }
    ~CChildProcess()
    {
        if (m_pid > 0 && !m_bReaped) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_nOut >= 0) close(m_nOut);
        if (m_nErr >= 0) close(m_nErr);
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    void Signal(int sig) const
    {
        if (m_pid > 0) kill(m_pid, sig);
    }

    // Collects output until the program ends or timeoutMs passes.
    ChildResult Wait(int timeoutMs)
    {
        ChildResult r;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_nOut >= 0 || m_nErr >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd fds[2] = {{m_nOut, POLLIN, 0}, {m_nErr, POLLIN, 0}};
            if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
            ReadInto(fds[0], m_nOut, r.strOut);
            ReadInto(fds[1], m_nErr, r.strErr);
        }
        int status = 0;
        if (m_pid > 0 && waitpid(m_pid, &status, m_nOut < 0 && m_nErr < 0 ? 0 : WNOHANG) == m_pid) {
            m_bReaped = true;
            r.nExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return r;
    }

private:
    static void ReadInto(const pollfd& p, int& fd, std::string& into)
    {
        if (!(p.revents & (POLLIN | POLLHUP))) return;
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<std::size_t>(n));
        } else {
            close(fd);
            fd = -1;
        }
    }

    std::vector<std::string> m_argv;
    pid_t m_pid = -1;
    int m_nOut = -1;
    int m_nErr = -1;
    bool m_bReaped = false;
};

}  // namespace kestrel::test
