#pragma once
// Plays one schedule against the real download engine and the model handset in virtual time
// and checks, all along the way, what every run must keep to:
//   1. a run that reports Completed left the handset's flash equal to the image;
//   2. the handset saw no protocol violation by the tool;
//   3. exactly one outcome per accepted press of Run;
//   4. once a run has ended nothing is armed or running: no engine timer, the link down and
//      the port closed, wait cursor and mouse capture released, Run usable and Stop not;
//   5. every run ends by itself within a bound that follows from the engine's own limits.

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/download_view.h"
#include "schedule.h"

namespace kestrel::test {

struct RunRecord {
    RunOutcome eOutcome = RunOutcome::Completed;
    int64_t nStartMs = 0;
    int64_t nEndMs = 0;  // when the ended run was first seen at rest
};

struct Verdict {
    bool bPassed = true;
    std::string strProperty;  // the property violated, or "harness" when the play itself failed
    std::string strReport;    // seed, schedule, what failed, the tails of the engine log and transcript
    std::vector<RunRecord> vecRuns;
    // What the operator did, the engine log and the handset transcript, in virtual time: a
    // seed always plays alike.
    std::string strTrace;
};

Verdict PlaySchedule(const Schedule& schedule);

// How long one run may take, in virtual milliseconds, with the operator doing nothing.
int64_t RunBoundMs(const Schedule& schedule);

}  // namespace kestrel::test
