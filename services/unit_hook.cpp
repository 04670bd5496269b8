#include "services/unit_hook.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <map>

extern char** environ;

namespace kestrel {

// A plain fork, which every checker of threads knows, rather than a spawn that shares the
// parent's memory until the exec. Its exit is watched through a pidfd: no SIGCHLD handler.
struct CUnitHookRunner::SRun {
    pid_t pid = -1;
    int nPidFd = -1;
    int nOutFd = -1;
    std::unique_ptr<QSocketNotifier> pExited;
    std::unique_ptr<QSocketNotifier> pOutput;
    std::unique_ptr<QTimer> pTimer;
    std::function<void(const SHookEnd&)> onEnd;
    std::string strOutput;
    bool bTimedOut = false;
    bool bStopped = false;

    ~SRun()
    {
        if (nPidFd >= 0) close(nPidFd);
        if (nOutFd >= 0) close(nOutFd);
    }
};

namespace {

// The whole group: a shell's children (a `sleep`, a printer's spooler call) go too.
void KillGroup(pid_t pid)
{
    if (pid <= 0) return;
    if (::kill(-pid, SIGKILL) != 0) ::kill(pid, SIGKILL);
}

// The end of the output, from a line's start where one is near, so that no character is cut.
void KeepTail(std::string& strOutput)
{
    if (strOutput.size() <= static_cast<std::size_t>(kUnitHookOutputBytes)) return;
    strOutput.erase(0, strOutput.size() - static_cast<std::size_t>(kUnitHookOutputBytes));
    if (const std::size_t nLine = strOutput.find('\n'); nLine != std::string::npos) strOutput.erase(0, nLine + 1);
}

// "exit 3", "signal 9"
std::string StatusText(int nStatus)
{
    if (WIFEXITED(nStatus)) return "exit " + std::to_string(WEXITSTATUS(nStatus));
    return "signal " + std::to_string(WIFSIGNALED(nStatus) ? WTERMSIG(nStatus) : 0);
}

// The process's environment with the unit's variables over it, made before the fork: the child
// only calls what is safe between a fork and an exec.
std::vector<std::string> EnvironmentWith(const HookEnvironment& environment)
{
    std::map<std::string, std::string> variables;
    for (char** ppEntry = environ; *ppEntry != nullptr; ++ppEntry) {
        const std::string strEntry = *ppEntry;
        const std::size_t nEquals = strEntry.find('=');
        if (nEquals != std::string::npos) variables[strEntry.substr(0, nEquals)] = strEntry.substr(nEquals + 1);
    }
    for (const auto& [strName, strValue] : environment) variables[strName] = strValue;
    std::vector<std::string> entries;
    for (const auto& [strName, strValue] : variables) entries.push_back(strName + "=" + strValue);
    return entries;
}

}  // namespace

std::string SHookEnd::LogLine() const { return "After-unit command: " + strStatus + "."; }

CUnitHookRunner::CUnitHookRunner(int nTimeoutMs) : m_nTimeoutMs(nTimeoutMs) {}

CUnitHookRunner::~CUnitHookRunner()
{
    for (auto& [pRun, pOwned] : m_running) {
        KillGroup(pRun->pid);
        if (pRun->pid > 0) waitpid(pRun->pid, nullptr, 0);
    }
}

bool CUnitHookRunner::ReadOutput(SRun& run)
{
    char buffer[4096];
    for (;;) {
        const ssize_t nRead = read(run.nOutFd, buffer, sizeof buffer);
        if (nRead > 0) {
            run.strOutput.append(buffer, static_cast<std::size_t>(nRead));
            KeepTail(run.strOutput);
            continue;
        }
        if (nRead < 0 && errno == EINTR) continue;
        return nRead < 0 && errno == EAGAIN;
    }
}

void CUnitHookRunner::Start(const std::string& strCommand, const HookEnvironment& environment,
                            std::function<void(const SHookEnd&)> onEnd)
{
    m_ended.clear();
    auto pOwned = std::make_unique<SRun>();
    SRun* pRun = pOwned.get();
    pRun->onEnd = std::move(onEnd);
    m_running.emplace(pRun, std::move(pOwned));

    const std::vector<std::string> entries = EnvironmentWith(environment);
    std::vector<char*> envp;
    for (const std::string& strEntry : entries) envp.push_back(const_cast<char*>(strEntry.c_str()));
    envp.push_back(nullptr);
    const char* const argv[] = {"sh", "-c", strCommand.c_str(), nullptr};
    int pipeFds[2] = {-1, -1};
    const int nNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nNull >= 0 && pipe2(pipeFds, O_CLOEXEC) == 0) pRun->pid = fork();
    if (pRun->pid == 0) {
        setpgid(0, 0);
        dup2(nNull, STDIN_FILENO);
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        execve("/bin/sh", const_cast<char* const*>(argv), envp.data());
        _exit(127);
    }
    if (nNull >= 0) close(nNull);
    if (pipeFds[1] >= 0) close(pipeFds[1]);
    pRun->nOutFd = pipeFds[0];
    if (pRun->pid > 0) {
        // The parent too, so that a kill of the group cannot come before the child made it.
        setpgid(pRun->pid, pRun->pid);
        pRun->nPidFd = static_cast<int>(syscall(SYS_pidfd_open, pRun->pid, 0));
    }
    if (pRun->pid <= 0 || pRun->nPidFd < 0) {
        KillGroup(pRun->pid);
        if (pRun->pid > 0) waitpid(pRun->pid, nullptr, 0);
        pRun->pid = -1;
        // Told through the event loop, as every end is.
        pRun->pTimer = std::make_unique<QTimer>();
        pRun->pTimer->setSingleShot(true);
        QObject::connect(pRun->pTimer.get(), &QTimer::timeout, [this, pRun] { Finish(pRun, "not started"); });
        pRun->pTimer->start(0);
        return;
    }
    fcntl(pRun->nOutFd, F_SETFL, fcntl(pRun->nOutFd, F_GETFL) | O_NONBLOCK);
    pRun->pOutput = std::make_unique<QSocketNotifier>(pRun->nOutFd, QSocketNotifier::Read);
    QObject::connect(pRun->pOutput.get(), &QSocketNotifier::activated, [pRun] {
        if (!ReadOutput(*pRun)) pRun->pOutput->setEnabled(false);
    });
    pRun->pExited = std::make_unique<QSocketNotifier>(pRun->nPidFd, QSocketNotifier::Read);
    QObject::connect(pRun->pExited.get(), &QSocketNotifier::activated, [this, pRun] { OnExited(pRun); });
    pRun->pTimer = std::make_unique<QTimer>();
    pRun->pTimer->setSingleShot(true);
    QObject::connect(pRun->pTimer.get(), &QTimer::timeout, [pRun] {
        pRun->bTimedOut = true;
        KillGroup(pRun->pid);
    });
    pRun->pTimer->start(m_nTimeoutMs);
}

void CUnitHookRunner::OnExited(SRun* pRun)
{
    int nStatus = 0;
    if (waitpid(pRun->pid, &nStatus, WNOHANG) != pRun->pid) return;
    pRun->pid = -1;
    // What it wrote before it ended; a child it left behind may hold the pipe, and is not waited for.
    ReadOutput(*pRun);
    if (pRun->bStopped) Finish(pRun, "stopped");
    else if (pRun->bTimedOut) Finish(pRun, "timed out");
    else Finish(pRun, StatusText(nStatus));
}

void CUnitHookRunner::StopAll()
{
    std::vector<SRun*> runs;
    for (const auto& [pRun, pOwned] : m_running) runs.push_back(pRun);
    for (SRun* pRun : runs) {
        pRun->bStopped = true;
        KillGroup(pRun->pid);
        if (pRun->pid > 0) waitpid(pRun->pid, nullptr, 0);
        pRun->pid = -1;
        ReadOutput(*pRun);
        Finish(pRun, "stopped");
    }
}

void CUnitHookRunner::Finish(SRun* pRun, std::string strStatus)
{
    const auto it = m_running.find(pRun);
    if (it == m_running.end()) return;
    std::unique_ptr<SRun> pOwned = std::move(it->second);
    m_running.erase(it);
    for (QSocketNotifier* pNotifier : {pOwned->pOutput.get(), pOwned->pExited.get()})
        if (pNotifier != nullptr) pNotifier->setEnabled(false);
    if (pOwned->pTimer) pOwned->pTimer->stop();
    const SHookEnd end{std::move(strStatus), std::move(pOwned->strOutput)};
    const std::function<void(const SHookEnd&)> onEnd = std::move(pOwned->onEnd);
    // This may be its own notifier's signal: it goes at the next start, or with the runner.
    m_ended.push_back(std::move(pOwned));
    onEnd(end);
}

}  // namespace kestrel
