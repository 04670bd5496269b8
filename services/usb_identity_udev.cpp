#include <filesystem>

#include "services/udev_ptr.h"
#include "services/usb_identity.h"

namespace kestrel {

std::optional<UsbIdentity> LookUpUsbIdentity(const std::string& strDevicePath)
{
    // A COM setting may name a link (/dev/serial/by-id/...); udev knows the node it leads to.
    std::error_code error;
    const std::filesystem::path node = std::filesystem::canonical(strDevicePath, error);
    const std::string strNode = error ? strDevicePath : node.string();

    UdevPtr<udev> pUdev(udev_new());
    if (!pUdev) return std::nullopt;
    UdevPtr<udev_enumerate> pEnumerate(udev_enumerate_new(pUdev.get()));
    if (!pEnumerate || udev_enumerate_add_match_subsystem(pEnumerate.get(), "tty") < 0 ||
        udev_enumerate_add_match_property(pEnumerate.get(), "DEVNAME", strNode.c_str()) < 0 ||
        udev_enumerate_scan_devices(pEnumerate.get()) < 0)
        return std::nullopt;
    udev_list_entry* pEntry = udev_enumerate_get_list_entry(pEnumerate.get());
    if (pEntry == nullptr) return std::nullopt;
    const UdevPtr<udev_device> pTty(udev_device_new_from_syspath(pUdev.get(), udev_list_entry_get_name(pEntry)));
    if (!pTty) return std::nullopt;
    // Not a reference of its own: it lives as long as the tty device.
    udev_device* pUsb = udev_device_get_parent_with_subsystem_devtype(pTty.get(), "usb", "usb_device");
    if (pUsb == nullptr) return std::nullopt;
    return UsbIdentity{TextOrEmpty(udev_device_get_sysattr_value(pUsb, "serial")),
                       TextOrEmpty(udev_device_get_sysattr_value(pUsb, "idVendor")),
                       TextOrEmpty(udev_device_get_sysattr_value(pUsb, "idProduct"))};
}

}  // namespace kestrel
