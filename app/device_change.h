#pragma once
// What the arrival or removal of a serial device does to the port selection, decided apart
// from any window or device monitor; the window applies the result.

#include <optional>
#include <string>

namespace kestrel {

enum class EDeviceChange { Arrival, Removal };

struct SDeviceChangeResult {
    bool bChanged = false;       // false: the device is no port, and nothing changes
    std::optional<int> optPort;  // a port to select and store
    std::string strPortLabel;
};

// The port label for a selected port: "[COM%d]", or a note that the number is not used.
std::string PortLabel(int nPort);

// optPort: the COM number of the device, none for a device that is no port.
SDeviceChangeResult DeviceChangeRule(EDeviceChange eChange, std::optional<int> optPort);

// The COM number of a device node, by the COM map with the COM<n> settings.
std::optional<int> PortOfDevice(const std::string& strDevNode);

}  // namespace kestrel
