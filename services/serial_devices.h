#pragma once
// The serial ports the system has now, as udev describes them.

#include <optional>
#include <string>
#include <vector>

#include "services/usb_identity.h"

namespace kestrel {

struct SSerialDevice {
    std::string strNode;                 // "/dev/ttyACM0"
    std::vector<std::string> vecByPath;  // udev's links under /dev/serial/by-path/
    std::vector<std::string> vecById;    // and under /dev/serial/by-id/
    std::string strIdPath;               // udev's ID_PATH: "pci-0000:00:14.0-usb-0:3:1.0"; may be empty
    std::optional<SUsbIdentity> optUsb;   // nullopt off USB
    std::string strDriver;               // of the hardware behind the tty: "cdc_acm", "ftdi_sio"
};

// Every tty with a node and hardware behind it, in the order of their nodes (ttyACM2 before
// ttyACM10); no virtual console, pseudo-terminal or ttyS placeholder without a UART. Empty
// when udev cannot be opened.
std::vector<SSerialDevice> ListSerialDevices();

// The node of the tty whose ID_PATH is the given one; "" when none is there now.
std::string FindTtyNodeByIdPath(const std::string& strIdPath);

}  // namespace kestrel
