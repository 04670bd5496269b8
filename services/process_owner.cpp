#include "services/process_owner.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

namespace kestrel {
namespace {

std::string BootId()
{
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string strId;
    std::getline(in, strId);
    return strId;
}

// Field 22 of /proc/PID/stat, in clock ticks after boot; empty for a process that is gone or
// has died and waits to be reaped (state Z in field 3). The command name (field 2) may hold
// spaces and parentheses: counting starts after its last ')'.
std::string StartTime(const std::string& strPid)
{
    std::ifstream in("/proc/" + strPid + "/stat");
    std::string strStat;
    std::getline(in, strStat);
    const auto nNameEnd = strStat.rfind(')');
    if (nNameEnd == std::string::npos) return {};
    std::istringstream fields(strStat.substr(nNameEnd + 1));
    std::string strField;
    for (int nField = 3; nField <= 22 && fields >> strField; ++nField) {
        if (nField == 3 && strField == "Z") return {};
        if (nField == 22) return strField;
    }
    return {};
}

std::string OwnerOf(const std::string& strPid) { return BootId() + '/' + strPid + '/' + StartTime(strPid); }

}  // namespace

std::string ThisProcessOwner() { return OwnerOf(std::to_string(getpid())); }

bool IsOwnerAlive(const std::string& strOwner)
{
    const auto nFirst = strOwner.find('/');
    const auto nSecond = strOwner.find('/', nFirst + 1);
    if (nFirst == std::string::npos || nSecond == std::string::npos || nSecond + 1 == strOwner.size()) return false;
    const std::string strPid = strOwner.substr(nFirst + 1, nSecond - nFirst - 1);
    if (strPid.empty() || strPid.find_first_not_of("0123456789") != std::string::npos) return false;
    return OwnerOf(strPid) == strOwner;
}

}  // namespace kestrel
