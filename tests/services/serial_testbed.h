#pragma once
// Serial ports in a umockdev test bed as udev describes them on a PC: two handsets on cdc_acm,
// a USB adapter on ftdi_sio, a UART on the mainboard, and ttys that are no serial ports.

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/services/udev_testbed.h"

namespace kestrel::test {

struct SBedPort {
    const char* pszUsbName;  // the usb_device's sysfs name; nullptr for the UART
    const char* pszVendorId;
    const char* pszProductId;
    const char* pszSerial;
    const char* pszDriver;
    const char* pszTty;
    const char* pszIdPath;
    const char* pszByPath;
    const char* pszById;
};

// udev lists them by sysfs path, not by node: ttyACM10 sits on the lower USB port.
inline const SBedPort kBedHandsetB{"1-3", "04e8", "6860", "R58M456DEF", "cdc_acm", "ttyACM10", "pci-0000:00:14.0-usb-0:3:1.0",
                                   "/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0",
                                   "/dev/serial/by-id/usb-SAMSUNG_SAMSUNG_Android_R58M456DEF-if00"};
// A serial number is the device's to choose, escape sequences included.
inline const SBedPort kBedHandsetA{"1-4", "04e8", "6860", "R58\x1b[2JA", "cdc_acm", "ttyACM2", "pci-0000:00:14.0-usb-0:4:1.0",
                                   "/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0",
                                   "/dev/serial/by-id/usb-SAMSUNG_SAMSUNG_Android_R58_2JA-if00"};
inline const SBedPort kBedAdapter{"1-5", "0403", "6001", "A50285BI", "ftdi_sio", "ttyUSB0", "pci-0000:00:14.0-usb-0:5:1.0",
                                  "/dev/serial/by-path/pci-0000:00:14.0-usb-0:5:1.0-port0",
                                  "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};
inline const SBedPort kBedUart{nullptr, "", "", "", "serial", "ttyS4", "", "", ""};

class CSerialTestbedTest : public CUdevTestbedTest {
protected:
    void AddBed()
    {
        for (const SBedPort* pPort : {&kBedHandsetB, &kBedHandsetA, &kBedAdapter}) AddUsbPort(*pPort);
        AddUart();
        // A virtual console: a node, no device behind it.
        AddDeviceUnder("", "tty", "tty1", {}, {"DEVNAME", "/dev/tty1"});
        // serial_core's placeholder for a UART the machine does not have.
        const std::string strPlatform = AddDeviceUnder("", "platform", "serial8250", {}, {});
        SetDriver(strPlatform, "serial8250");
        AddDeviceUnder(strPlatform, "tty", "ttyS0", {"type", "0"}, {"DEVNAME", "/dev/ttyS0"});
    }

    // The nodes and links udev makes in /dev, as plain files the test bed shows there.
    void AddDevFiles()
    {
        gchar* pszRoot = umockdev_testbed_get_root_dir(m_pTestbed);
        const std::filesystem::path root = pszRoot;
        g_free(pszRoot);
        for (const SBedPort* pPort : {&kBedHandsetB, &kBedHandsetA, &kBedAdapter, &kBedUart}) {
            const std::filesystem::path node = root / "dev" / pPort->pszTty;
            std::filesystem::create_directories(node.parent_path());
            std::ofstream{node};
            for (const char* pszLink : {pPort->pszByPath, pPort->pszById}) {
                if (*pszLink == '\0') continue;
                const std::filesystem::path link = root / (pszLink + 1);
                std::filesystem::create_directories(link.parent_path());
                std::filesystem::create_symlink(std::filesystem::path("../..") / pPort->pszTty, link);
            }
        }
    }

private:
    void SetDriver(const std::string& strSysPath, const char* pszDriver)
    {
        const std::string strTarget = std::string("../../bus/drivers/") + pszDriver;
        umockdev_testbed_set_attribute_link(m_pTestbed, strSysPath.c_str(), "driver", strTarget.c_str());
    }

    void AddUsbPort(const SBedPort& port)
    {
        const std::string strUsb = AddDeviceUnder("", "usb", port.pszUsbName,
                                                  {"idVendor", port.pszVendorId, "idProduct", port.pszProductId, "serial", port.pszSerial},
                                                  {"DEVTYPE", "usb_device"});
        const std::string strInterface = AddDeviceUnder(strUsb, "usb", (std::string(port.pszUsbName) + ":1.0").c_str(), {},
                                                        {"DEVTYPE", "usb_interface"});
        SetDriver(strInterface, port.pszDriver);
        std::string strParent = strInterface;
        // usb-serial puts a device of its own between the interface and the tty.
        if (std::string(port.pszTty).starts_with("ttyUSB")) {
            strParent = AddDeviceUnder(strInterface, "usb-serial", port.pszTty, {}, {});
            SetDriver(strParent, port.pszDriver);
        }
        const std::string strDevName = std::string("/dev/") + port.pszTty;
        const std::string strLinks = std::string(port.pszByPath) + " " + port.pszById;
        AddDeviceUnder(strParent, "tty", port.pszTty, {},
                       {"DEVNAME", strDevName.c_str(), "DEVLINKS", strLinks.c_str(), "ID_PATH", port.pszIdPath});
    }

    // As Linux 6.5 on: the hardware, serial_core's controller and port, then the tty.
    void AddUart()
    {
        const std::string strPnp = AddDeviceUnder("", "pnp", "00:05", {}, {});
        SetDriver(strPnp, kBedUart.pszDriver);
        const std::string strController = AddDeviceUnder(strPnp, "serial-base", "00:05:0", {}, {});
        SetDriver(strController, "ctrl");
        const std::string strPort = AddDeviceUnder(strController, "serial-base", "00:05:0.0", {}, {});
        SetDriver(strPort, "port");
        AddDeviceUnder(strPort, "tty", kBedUart.pszTty, {"type", "4"}, {"DEVNAME", "/dev/ttyS4"});
    }
};

}  // namespace kestrel::test
