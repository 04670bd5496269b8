#pragma once
// Which USB device stands behind a serial device node, as udev knows it.

#include <optional>
#include <string>

namespace kestrel {

struct SUsbIdentity {
    std::string strSerial;     // empty when the device has none
    std::string strVendorId;   // four hexadecimal digits, as udev gives them
    std::string strProductId;
};

// nullopt for a node udev does not know or that is not on USB (a pseudo-terminal, ttyS0).
std::optional<SUsbIdentity> LookUpUsbIdentity(const std::string& strDevicePath);

}  // namespace kestrel
