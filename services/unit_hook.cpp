#include "services/unit_hook.h"

#include <signal.h>
#include <unistd.h>

#include <QProcess>
#include <QTimer>

namespace kestrel {

struct CUnitHookRunner::SRun {
    std::unique_ptr<QProcess> pProcess = std::make_unique<QProcess>();
    std::function<void(const SHookEnd&)> onEnd;
    std::string strOutput;
    bool bTimedOut = false;
    bool bStopped = false;
};

namespace {

// The whole group: a shell's children (a `sleep`, a printer's spooler call) go too.
void KillGroup(QProcess& process)
{
    const qint64 pid = process.processId();
    if (pid > 0) ::kill(static_cast<pid_t>(-pid), SIGKILL);
    process.kill();
}

// The end of the output, from a line's start where one is near, so that no character is cut.
void KeepTail(std::string& strOutput)
{
    if (strOutput.size() <= static_cast<std::size_t>(kUnitHookOutputBytes)) return;
    strOutput.erase(0, strOutput.size() - static_cast<std::size_t>(kUnitHookOutputBytes));
    if (const std::size_t nLine = strOutput.find('\n'); nLine != std::string::npos) strOutput.erase(0, nLine + 1);
}

}  // namespace

std::string SHookEnd::LogLine() const { return "After-unit command: " + strStatus + "."; }

CUnitHookRunner::CUnitHookRunner(int nTimeoutMs) : m_nTimeoutMs(nTimeoutMs) {}

CUnitHookRunner::~CUnitHookRunner()
{
    for (auto& [pProcess, pRun] : m_running) {
        pProcess->disconnect();
        KillGroup(*pProcess);
        pProcess->waitForFinished(1000);
    }
}

void CUnitHookRunner::Start(const std::string& strCommand, const HookEnvironment& environment,
                            std::function<void(const SHookEnd&)> onEnd)
{
    m_ended.clear();
    auto pRun = std::make_unique<SRun>();
    pRun->onEnd = std::move(onEnd);
    QProcess* pProcess = pRun->pProcess.get();
    SRun* pState = pRun.get();
    m_running.emplace(pProcess, std::move(pRun));

    QProcessEnvironment processEnvironment = QProcessEnvironment::systemEnvironment();
    for (const auto& [strName, strValue] : environment)
        processEnvironment.insert(QString::fromStdString(strName), QString::fromStdString(strValue));
    pProcess->setProcessEnvironment(processEnvironment);
    pProcess->setProcessChannelMode(QProcess::MergedChannels);
    pProcess->setStandardInputFile(QProcess::nullDevice());
    pProcess->setChildProcessModifier([] { ::setpgid(0, 0); });

    QObject::connect(pProcess, &QProcess::readyReadStandardOutput, pProcess, [pProcess, pState] {
        pState->strOutput += pProcess->readAllStandardOutput().toStdString();
        KeepTail(pState->strOutput);
    });
    QObject::connect(pProcess, &QProcess::finished, pProcess, [this, pProcess, pState](int nCode, QProcess::ExitStatus eStatus) {
        pState->strOutput += pProcess->readAllStandardOutput().toStdString();
        KeepTail(pState->strOutput);
        if (pState->bStopped) Finish(pProcess, "stopped");
        else if (pState->bTimedOut) Finish(pProcess, "timed out");
        else Finish(pProcess, (eStatus == QProcess::NormalExit ? "exit " : "signal ") + std::to_string(nCode));
    });
    QObject::connect(pProcess, &QProcess::errorOccurred, pProcess, [this, pProcess](QProcess::ProcessError eError) {
        if (eError != QProcess::FailedToStart) return;
        // Told through the event loop: this may come from within start().
        QTimer::singleShot(0, pProcess, [this, pProcess] { Finish(pProcess, "not started"); });
    });
    auto* pTimer = new QTimer(pProcess);
    pTimer->setSingleShot(true);
    QObject::connect(pTimer, &QTimer::timeout, pProcess, [pProcess, pState] {
        pState->bTimedOut = true;
        KillGroup(*pProcess);
    });
    pTimer->start(m_nTimeoutMs);
    pProcess->start("/bin/sh", {"-c", QString::fromStdString(strCommand)});
}

void CUnitHookRunner::StopAll()
{
    std::vector<QProcess*> processes;
    for (const auto& [pProcess, pRun] : m_running) processes.push_back(pProcess);
    for (QProcess* pProcess : processes) {
        m_running.at(pProcess)->bStopped = true;
        KillGroup(*pProcess);
        if (!pProcess->waitForFinished(1000) && m_running.contains(pProcess)) Finish(pProcess, "stopped");
    }
}

void CUnitHookRunner::Finish(QProcess* pProcess, std::string strStatus)
{
    const auto it = m_running.find(pProcess);
    if (it == m_running.end()) return;
    std::unique_ptr<SRun> pRun = std::move(it->second);
    m_running.erase(it);
    const SHookEnd end{std::move(strStatus), std::move(pRun->strOutput)};
    const std::function<void(const SHookEnd&)> onEnd = std::move(pRun->onEnd);
    // This may be the process's own signal: it goes at the next start, or with the runner.
    m_ended.push_back(std::move(pRun));
    onEnd(end);
}

}  // namespace kestrel
