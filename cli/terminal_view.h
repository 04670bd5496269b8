#pragma once
// A run on one port, on a terminal: log lines as the window shows them, a progress line on
// standard error, and the questions as the flash options answered them.

#include <cstdint>
#include <functional>
#include <string>

#include "cli_session.h"
#include "protocol/time_left.h"

namespace kestrel {

class CTerminalView final : public ICliRunView {
public:
    // progressLine: draw the progress line on standard error (a terminal); clock: ms.
    CTerminalView(CCliOutput& out, bool progressLine, std::function<int64_t()> clock);

    void OnPortLog(int index, int kind, const std::string& text) override;
    void OnPortCheckMark(int index) override;
    void OnPortAnswered(int index, const std::string& question, bool bYes) override;
    void OnPortProgress(int index, const SBlockProgress& progress) override;
    void OnPortRunStarted(int) override {}
    void OnPortRunEnded(int index, RunOutcome outcome) override;

private:
    void EndProgressLine();
    void EndCheckMarkLine();

    CCliOutput& m_out;
    bool m_bProgressLine;
    bool m_bProgressShown = false;
    bool m_bCheckMarkOpen = false;  // a check mark waits for the next line, as in the window
    std::function<int64_t()> m_clock;
    CTimeLeft m_timeLeft;
};

}  // namespace kestrel
