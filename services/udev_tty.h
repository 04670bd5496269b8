#pragma once
// The tty devices udev knows, and the USB device behind one, for the lookups that read them.

#include <optional>
#include <string>
#include <vector>

#include "services/udev_ptr.h"
#include "services/usb_identity.h"

namespace kestrel {

// The tty devices udev knows now; given a property name, only those whose property is exactly the value.
std::vector<UdevPtr<udev_device>> TtyDevices(udev* pUdev, const char* pszProperty = nullptr, const std::string& strValue = {});

// From the tty's usb_device ancestor; nullopt for a tty that is not on USB.
std::optional<SUsbIdentity> UsbIdentityOf(udev_device* pTty);

}  // namespace kestrel
