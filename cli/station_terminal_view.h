#pragma once
// What a station shows on the command line: on a terminal one status line per port,
// redrawn in place at most ten times a second; otherwise every log line with its port in
// front; with --json every event with its "port".

#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli_session.h"
#include "protocol/time_left.h"

namespace kestrel {

class CStationTerminalView final : public ICliRunView {
public:
    // statusLines: draw the status block on standard error (a terminal); logLines: print every
    // log line too (always without status lines); clock: ms; everyPortRuns: each port was to
    // run once (flash), so one that never started ends as stopped.
    CStationTerminalView(CCliOutput& out, bool statusLines, bool logLines, std::function<int64_t()> clock,
                         bool everyPortRuns);

    void OnPortLog(int index, int kind, const std::string& text) override;
    void OnPortCheckMark(int index) override;
    void OnPortProgress(int index, const SBlockProgress& progress) override;
    void OnPortRunStarted(int index) override;
    void OnPortRunEnded(int index, RunOutcome outcome) override;
    // Draws the status block one last time, as it stands.
    void Finish() override;

private:
    struct SPortStatus {
        int nPercent = 0;
        uint32_t dwAddress = 0;
        int64_t nStartMs = -1;
        int64_t nEndMs = -1;
        std::string strEnd;       // "completed" or what went wrong
        CTimeLeft timeLeft;
    };

    SPortStatus& Status(int index);
    std::string StatusLine(int index, int64_t now);
    void ScheduleDraw();
    void Draw();

    CCliOutput& m_out;
    bool m_bStatusLines;
    bool m_bLogLines;
    std::function<int64_t()> m_clock;
    bool m_bEveryPortRuns;
    std::vector<SPortStatus> m_status;
    QTimer m_drawTimer;
    int m_nLinesDrawn = 0;
};

}  // namespace kestrel
