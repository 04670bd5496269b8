#include "services/udev_tty.h"

namespace kestrel {

std::vector<UdevPtr<udev_device>> TtyDevices(udev* pUdev, const char* pszProperty, const std::string& strValue)
{
    std::vector<UdevPtr<udev_device>> devices;
    UdevPtr<udev_enumerate> pEnumerate(udev_enumerate_new(pUdev));
    if (!pEnumerate || udev_enumerate_add_match_subsystem(pEnumerate.get(), "tty") < 0 ||
        (pszProperty && udev_enumerate_add_match_property(pEnumerate.get(), pszProperty, strValue.c_str()) < 0) ||
        udev_enumerate_scan_devices(pEnumerate.get()) < 0)
        return devices;
    udev_list_entry* pEntry = nullptr;
    udev_list_entry_foreach(pEntry, udev_enumerate_get_list_entry(pEnumerate.get()))
    {
        UdevPtr<udev_device> pDevice(udev_device_new_from_syspath(pUdev, udev_list_entry_get_name(pEntry)));
        // udev matches the value as a glob: "pci-*" would match every port on PCI.
        if (pDevice && (!pszProperty || TextOrEmpty(udev_device_get_property_value(pDevice.get(), pszProperty)) == strValue))
            devices.push_back(std::move(pDevice));
    }
    return devices;
}

std::optional<SUsbIdentity> UsbIdentityOf(udev_device* pTty)
{
    // Not a reference of its own: it lives as long as the tty device.
    udev_device* pUsb = udev_device_get_parent_with_subsystem_devtype(pTty, "usb", "usb_device");
    if (pUsb == nullptr) return std::nullopt;
    return SUsbIdentity{TextOrEmpty(udev_device_get_sysattr_value(pUsb, "serial")),
                       TextOrEmpty(udev_device_get_sysattr_value(pUsb, "idVendor")),
                       TextOrEmpty(udev_device_get_sysattr_value(pUsb, "idProduct"))};
}

}  // namespace kestrel
