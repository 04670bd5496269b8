#pragma once
// How a run ended, worked out once for every front end and for the journal: the outcome, what
// ended a run that did not complete, how long it took and how fast the image went in.

#include <cstdint>
#include <string>

#include "protocol/download_run.h"
#include "protocol/download_view.h"

namespace kestrel {

struct SRunSummary {
    RunOutcome eOutcome = RunOutcome::Stopped;
    // In the log's words: the last line of the run's last red line, else, for a run that did
    // not complete, the last line its log showed (a refusal's message); empty for a completed run.
    std::string strReason;
    int64_t nDurationMs = 0;      // from Run to the end of the run's work
    int64_t nBytesPerSecond = 0;  // acknowledged image bytes over the duration; 0 for no time
};

// strLastLogLine: the last line the run's log showed, for a run that ended without a red line.
SRunSummary SummarizeRun(RunOutcome eOutcome, const SRunStatistics& stats, const std::string& strLastLogLine);

// The last line of a text with something on it; "" when there is none.
std::string LastTextLine(const std::string& text);

// A run that did what it was asked: completed, or found nothing to do.
bool IsSuccess(RunOutcome eOutcome);
// A run that ended in an error: neither a success nor stopped by the operator.
bool IsFailure(RunOutcome eOutcome);

}  // namespace kestrel
