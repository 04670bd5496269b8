#pragma once
// The command an operator has run after each unit, for a label printer, a test bench or an
// upload: through /bin/sh -c, with the unit in its environment, in a process group of its own
// so that whatever it starts goes with it when it is ended. Several may run at once; none holds
// up a port, and none runs longer than kUnitHookTimeoutMs.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace kestrel {

inline constexpr int kUnitHookTimeoutMs = 30000;
// What is kept of a command's output (its end), for the port's log.
inline constexpr int kUnitHookOutputBytes = 4096;

using HookEnvironment = std::vector<std::pair<std::string, std::string>>;

struct SHookEnd {
    std::string strStatus;  // as the journal keeps it: "exit 0", "exit 3", "signal 9", "timed out", "stopped", "not started"
    std::string strOutput;  // standard output and error together, at most the last kUnitHookOutputBytes
    bool Succeeded() const { return strStatus == "exit 0"; }
    // The port's log line: "After-unit command: exit 3."
    std::string LogLine() const;
};

class CUnitHookRunner {
public:
    explicit CUnitHookRunner(int nTimeoutMs = kUnitHookTimeoutMs);
    // Ends what still runs, telling no one.
    ~CUnitHookRunner();
    CUnitHookRunner(const CUnitHookRunner&) = delete;
    CUnitHookRunner& operator=(const CUnitHookRunner&) = delete;

    // onEnd is called once, on this thread, through its event loop: never from within Start.
    // Neither Start nor StopAll is called from within an onEnd.
    void Start(const std::string& strCommand, const HookEnvironment& environment, std::function<void(const SHookEnd&)> onEnd);
    int Running() const { return static_cast<int>(m_running.size()); }
    // Ends every command still running; each one's onEnd is called, with "stopped", before this returns.
    void StopAll();

private:
    struct SRun;
    // Reads what the command wrote so far; false at its end of output.
    static bool ReadOutput(SRun& run);
    void OnExited(SRun* pRun);
    void Finish(SRun* pRun, std::string strStatus);
    const int m_nTimeoutMs;
    std::map<SRun*, std::unique_ptr<SRun>> m_running;
    std::vector<std::unique_ptr<SRun>> m_ended;  // not freed from within their own signals
};

}  // namespace kestrel
