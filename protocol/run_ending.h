#pragma once
// How a run's outcome ends kestrel-cli: the word of its end event and its exit code. The
// after-unit command sees the same exit code, from whichever front end ran the unit.

#include "protocol/download_view.h"

namespace kestrel {

struct SEnding {
    const char* result;  // the JSON end event's "result"
    int exitCode;
};
SEnding EndingOf(RunOutcome outcome);

// Of several ports' exit codes, the one the command ends with: the station's own troubles
// (port 4, file 3) before the handsets' (5, then 6), then an interruption (130), then 0.
int MostSevereExitCode(int a, int b);

}  // namespace kestrel
