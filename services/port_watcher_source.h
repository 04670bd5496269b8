#pragma once
// Where the hot-plug watcher gets its device events from. The system's source is the udev
// monitor; tests put their own beneath the watcher.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// One announcement as the device manager sends it; any part may be empty.
struct SDeviceEvent {
    std::string strAction;                // "add", "remove", "change", ...
    std::string strDevNode;               // "/dev/ttyACM0"; empty for a device without a node
    std::vector<std::string> vecLinks{};  // udev's DEVLINKS, "/dev/serial/by-id/..." among them
    std::string strIdPath{};              // udev's ID_PATH, "pci-0000:00:14.0-usb-0:3:1.0"
};

class IDeviceEventSource {
public:
    virtual ~IDeviceEventSource() = default;
    // Turns readable while events wait; negative for a source that will never deliver any.
    virtual int Descriptor() const = 0;
    // The next waiting event, without blocking; nullopt when none can be read now.
    virtual std::optional<SDeviceEvent> Next() = 0;
};

// Announcements of the tty subsystem from udev; nullptr when udev cannot be opened.
std::unique_ptr<IDeviceEventSource> OpenUdevTtySource();

}  // namespace kestrel
