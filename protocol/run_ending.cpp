#include "protocol/run_ending.h"

#include "protocol/exit_codes.h"

namespace kestrel {
namespace {

int Severity(int exitCode)
{
    switch (exitCode) {
    case kExitPortError: return 6;
    case kExitFileError: return 5;
    case kExitHandsetError: return 4;
    case kExitNoResponse: return 3;
    case kExitInterrupted: return 2;
    case kExitOk: return 0;
    default: return 1;
    }
}

}  // namespace

SEnding EndingOf(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Completed: return {"completed", kExitOk};
    case RunOutcome::NothingToDo: return {"nothing-to-do", kExitOk};
    case RunOutcome::Stopped: return {"stopped", kExitInterrupted};
    case RunOutcome::HandsetError: return {"error", kExitHandsetError};
    case RunOutcome::NoResponse: return {"no-response", kExitNoResponse};
    case RunOutcome::PortError: return {"error", kExitPortError};
    case RunOutcome::FileError:
    case RunOutcome::Refused: break;
    }
    return {"error", kExitFileError};
}

int MostSevereExitCode(int a, int b) { return Severity(b) > Severity(a) ? b : a; }

}  // namespace kestrel
