#pragma once
// The download engine's view on a terminal: log lines as the window shows them, a progress
// line, the questions answered from the command line, and the run's end as an exit code.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "cli_output.h"
#include "protocol/download_view.h"
#include "protocol/headless_view.h"
#include "protocol/time_left.h"

namespace kestrel {

struct TerminalAnswers {
    bool bYes = false;                     // the model-version question
    std::optional<uint32_t> fontAddress;   // the font start address; the preset when absent
};

class CTerminalView final : public CHeadlessView {
public:
    // onStart is told when Run was accepted; onEnd gets the outcome once the run has come to rest.
    CTerminalView(CCliOutput& out, TerminalAnswers answers, bool progressLine, std::function<int64_t()> clock,
                  std::function<void()> onStart, std::function<void(RunOutcome)> onEnd);

    void WriteLog(int kind, const std::string& text) override;
    void MarkStepDone() override;
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& text) override;
    bool AskFontAddress(uint32_t& address) override;
    void OnBlockSent(const BlockProgress& progress) override;
    void OnRunStarted() override { m_onStart(); }
    void OnRunEnded(RunOutcome outcome) override;

private:
    void EndProgressLine();
    void EndCheckMarkLine();

    CCliOutput& m_out;
    TerminalAnswers m_answers;
    bool m_bProgressLine;
    bool m_bProgressShown = false;
    bool m_bCheckMarkOpen = false;  // a check mark waits for the next line, as in the window
    std::function<int64_t()> m_clock;
    std::function<void()> m_onStart;
    std::function<void(RunOutcome)> m_onEnd;
    int64_t m_nFirstBlockMs = -1;
    int64_t m_nBlocksSent = 0;
    CTimeLeft m_timeLeft;
};

}  // namespace kestrel
