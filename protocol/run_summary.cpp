#include "protocol/run_summary.h"

namespace kestrel {

std::string LastTextLine(const std::string& text)
{
    std::size_t end = text.size();
    while (end > 0) {
        const std::size_t start = text.rfind('\n', end - 1);
        const std::size_t first = start == std::string::npos ? 0 : start + 1;
        if (first < end) return text.substr(first, end - first);
        if (start == std::string::npos) break;
        end = start;
    }
    return {};
}

bool IsSuccess(RunOutcome eOutcome) { return eOutcome == RunOutcome::Completed || eOutcome == RunOutcome::NothingToDo; }

bool IsFailure(RunOutcome eOutcome) { return !IsSuccess(eOutcome) && eOutcome != RunOutcome::Stopped; }

SRunSummary SummarizeRun(RunOutcome eOutcome, const SRunStatistics& stats, const std::string& strLastLogLine)
{
    SRunSummary summary;
    summary.eOutcome = eOutcome;
    if (eOutcome != RunOutcome::Completed) {
        summary.strReason = LastTextLine(stats.strLastRedLine);
        if (summary.strReason.empty() && eOutcome != RunOutcome::Stopped) summary.strReason = LastTextLine(strLastLogLine);
    }
    summary.nDurationMs = stats.nEndMs >= stats.nStartMs ? stats.nEndMs - stats.nStartMs : 0;
    if (summary.nDurationMs > 0)
        summary.nBytesPerSecond = static_cast<int64_t>(stats.qwBytesWritten) * 1000 / summary.nDurationMs;
    return summary;
}

}  // namespace kestrel
