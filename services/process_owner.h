#pragma once
// Names a process so that the name outlives it: the boot, the process id and the process's
// start time. A name whose process is gone (it ended, or the machine was restarted) belongs
// to no process that runs now, even when the id has been given out again.

#include <string>

namespace kestrel {

// "BOOT-ID/PID/START" of this process.
std::string ThisProcessOwner();
// True while the named process runs.
bool IsOwnerAlive(const std::string& strOwner);

}  // namespace kestrel
