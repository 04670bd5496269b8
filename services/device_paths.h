#pragma once
// Where a port's path leads on disk right now: through its links to a device or a file, and
// which folders would tell of a change along the way. Presence and the slots' resolution
// share it, so that what is there and what is opened are one judgement.

#include <string>
#include <vector>

namespace kestrel {

// The path made absolute, without "." and "..", links left as they are.
std::string AbsolutePath(const std::string& strPath);

// The path with every link resolved; empty when it does not lead to anything.
std::string CanonicalPath(const std::string& strPath);

// The canonical path of the character device (or, for simulators, the plain file) the path
// leads to; empty when it leads to nothing of the kind, a dangling link among them.
std::string LiveDevice(const std::string& strPath);

// The absolute path, then each link's target in turn, for as long as they are links.
std::vector<std::string> LinkChain(const std::string& strPath);

// The deepest folder above the path that exists now.
std::string NearestFolder(const std::string& strPath);

// Where udev's announcements tell of what comes and goes.
bool IsUnderDev(const std::string& strPath);

}  // namespace kestrel
