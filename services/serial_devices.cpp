#include "services/serial_devices.h"

#include <string.h>

#include <algorithm>
#include <sstream>
#include <string_view>

#include "services/udev_tty.h"

namespace kestrel {
namespace {

constexpr std::string_view kByPathFolder = "/dev/serial/by-path/";
constexpr std::string_view kByIdFolder = "/dev/serial/by-id/";

// Virtual consoles, pseudo-terminals and /dev/console have no device behind them. serial_core
// registers a tty for every port it was told of, and gives those without a UART the type 0
// (PORT_UNKNOWN): ttyS1-31 on most PCs.
bool IsSerialPort(udev_device* pTty)
{
    if (udev_device_get_devnode(pTty) == nullptr || udev_device_get_parent(pTty) == nullptr) return false;
    const char* pszType = udev_device_get_sysattr_value(pTty, "type");
    return pszType == nullptr || std::string_view(pszType) != "0";
}

// Since Linux 6.5 serial_core puts its own port and controller devices (bus serial-base,
// driver "port") between a UART's tty and the hardware; the driver worth naming is beyond them.
std::string HardwareDriver(udev_device* pTty)
{
    udev_device* pParent = udev_device_get_parent(pTty);
    while (pParent && TextOrEmpty(udev_device_get_subsystem(pParent)) == "serial-base")
        pParent = udev_device_get_parent(pParent);
    return pParent ? TextOrEmpty(udev_device_get_driver(pParent)) : std::string();
}

SSerialDevice DescribeDevice(udev_device* pTty)
{
    SSerialDevice device{TextOrEmpty(udev_device_get_devnode(pTty)), {}, {},
                         TextOrEmpty(udev_device_get_property_value(pTty, "ID_PATH")), UsbIdentityOf(pTty),
                         HardwareDriver(pTty)};
    std::istringstream links(TextOrEmpty(udev_device_get_property_value(pTty, "DEVLINKS")));
    for (std::string strLink; links >> strLink;) {
        if (strLink.starts_with(kByPathFolder)) device.vecByPath.push_back(strLink);
        if (strLink.starts_with(kByIdFolder)) device.vecById.push_back(strLink);
    }
    return device;
}

}  // namespace

std::vector<SSerialDevice> ListSerialDevices()
{
    std::vector<SSerialDevice> devices;
    const UdevPtr<udev> pUdev(udev_new());
    if (!pUdev) return devices;
    for (const auto& pTty : TtyDevices(pUdev.get()))
        if (IsSerialPort(pTty.get())) devices.push_back(DescribeDevice(pTty.get()));
    std::ranges::sort(devices, [](const SSerialDevice& a, const SSerialDevice& b) {
        return strverscmp(a.strNode.c_str(), b.strNode.c_str()) < 0;
    });
    return devices;
}

std::string FindTtyNodeByIdPath(const std::string& strIdPath)
{
    if (strIdPath.empty()) return {};
    const UdevPtr<udev> pUdev(udev_new());
    if (!pUdev) return {};
    for (const auto& pTty : TtyDevices(pUdev.get(), "ID_PATH", strIdPath))
        if (const char* pszNode = udev_device_get_devnode(pTty.get())) return pszNode;
    return {};
}

}  // namespace kestrel
