#include "app/device_change.h"

#include "services/settings_store.h"
#include "serial/com_map.h"

namespace kestrel {
namespace {

// COM1 and COM2 are the machine's own serial ports, never a handset.
constexpr int kLastBuiltInPort = 2;

}  // namespace

std::string PortLabel(int nPort)
{
    const std::string strName = PortName(nPort);
    return IsUsablePortNumber(nPort) ? "[" + strName + "]" : "[" + strName + " unusable]";
}

SDeviceChangeResult DeviceChangeRule(EDeviceChange eChange, std::optional<int> optPort)
{
    SDeviceChangeResult result;
    if (!optPort) return result;
    result.bChanged = true;
    if (eChange == EDeviceChange::Removal) {
        result.strPortLabel = "[Disconnected]";
    } else if (*optPort <= kLastBuiltInPort) {
        result.strPortLabel = "[Disconnect]";
    } else if (!IsUsablePortNumber(*optPort)) {
        result.strPortLabel = PortLabel(*optPort);
    } else {
        result.optPort = optPort;
        result.strPortLabel = "Auto detect[" + PortName(*optPort) + "]";
    }
    return result;
}

std::optional<int> PortOfDevice(const std::string& strDevNode)
{
    return PortForDevicePath(strDevNode, StoredSettingLookup());
}

}  // namespace kestrel
