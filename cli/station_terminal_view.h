#pragma once
// What a station shows on the command line: on a terminal one status line per port,
// redrawn in place at most ten times a second; otherwise every log line with its port in
// front; with --json every event with its "port".

#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli_output.h"
#include "protocol/time_left.h"
#include "station/station.h"

namespace kestrel {

class CStationTerminalView final : public IStationObserver {
public:
    // statusLines: draw the status block on standard error (a terminal); clock: ms.
    CStationTerminalView(CCliOutput& out, CStation& station, bool statusLines, std::function<int64_t()> clock,
                         std::function<void(int index)> onStart,
                         std::function<void(int index, RunOutcome outcome)> onEnd);

    void OnPortLog(int index, int kind, const std::string& text) override;
    void OnPortCheckMark(int index) override;
    void OnPortProgress(int index, const BlockProgress& progress) override;
    void OnPortRunStarted(int index) override;
    void OnPortRunEnded(int index, RunOutcome outcome) override;
    void OnPortFree(int index) override
    {
        if (m_onFree) m_onFree(index);
    }
    void OnPortOpened(int index, const std::string& node) override
    {
        if (m_onOpened) m_onOpened(index, node);
    }
    // Told when a port's engine is free again, and of each node a port opened.
    void SetHooks(std::function<void(int index)> onFree, std::function<void(int index, const std::string& node)> onOpened)
    {
        m_onFree = std::move(onFree);
        m_onOpened = std::move(onOpened);
    }

    bool HasStarted(int index) { return Status(index).nStartMs >= 0; }
    // Draws the status block one last time, as it stands.
    void Finish();

private:
    struct PortStatus {
        int nPercent = 0;
        uint32_t dwAddress = 0;
        int nBlocksSent = 0;
        int64_t nStartMs = -1;
        int64_t nFirstBlockMs = -1;
        int64_t nLastBlockMs = -1;
        int64_t nEndMs = -1;
        std::string strEnd;       // "completed" or what went wrong
        std::string strLastError;
        CTimeLeft timeLeft;
    };

    PortStatus& Status(int index);
    std::string StatusLine(int index, int64_t now);
    void ScheduleDraw();
    void Draw();

    CCliOutput& m_out;
    CStation& m_station;
    bool m_bStatusLines;
    std::function<int64_t()> m_clock;
    std::function<void(int)> m_onStart;
    std::function<void(int, RunOutcome)> m_onEnd;
    std::function<void(int)> m_onFree;
    std::function<void(int, const std::string&)> m_onOpened;
    std::vector<PortStatus> m_status;
    QTimer m_drawTimer;
    int m_nLinesDrawn = 0;
};

}  // namespace kestrel
