#pragma once

namespace kestrel {

enum CliExit : int {
    kExitOk = 0,           // completed, or nothing to do
    kExitUsage = 2,
    kExitFileError = 3,    // image or other file error
    kExitPortError = 4,
    kExitHandsetError = 5, // the handset reported an error and the run stopped
    kExitNoResponse = 6,   // no response after the retries
    kExitInterrupted = 130,
};

}  // namespace kestrel
