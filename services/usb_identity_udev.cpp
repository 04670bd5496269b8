#include <filesystem>

#include "services/udev_tty.h"
#include "services/usb_identity.h"

namespace kestrel {

std::optional<SUsbIdentity> LookUpUsbIdentity(const std::string& strDevicePath)
{
    // A COM setting may name a link (/dev/serial/by-id/...); udev knows the node it leads to.
    std::error_code error;
    const std::filesystem::path node = std::filesystem::canonical(strDevicePath, error);
    const std::string strNode = error ? strDevicePath : node.string();

    UdevPtr<udev> pUdev(udev_new());
    if (!pUdev) return std::nullopt;
    const auto ttys = TtyDevices(pUdev.get(), "DEVNAME", strNode);
    if (ttys.empty()) return std::nullopt;
    return UsbIdentityOf(ttys.front().get());
}

}  // namespace kestrel
