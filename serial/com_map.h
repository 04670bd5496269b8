#pragma once
// COM port numbers, as the program and its settings know them, to device nodes and back.

#include <functional>
#include <optional>
#include <string>

namespace kestrel {

inline constexpr int kMinPortNumber = 1;
inline constexpr int kMaxPortNumber = 255;

// Reads a setting by name ("COM3"); returns "" when absent.
using SettingLookup = std::function<std::string(const std::string& name)>;

// In order: the setting COM<n>, the environment variable KESTREL_COM<n>, then the fixed
// scheme (COM1-2 ttyS0-1, COM3-10 ttyACM0-7, COM11-20 ttyUSB0-9). "" when n has no device.
std::string DevicePathForPort(int port, const SettingLookup& settings);

// Whether the setting COM<n> or the variable KESTREL_COM<n> names the port's device, rather
// than the fixed scheme.
bool IsPortMapped(int port, const SettingLookup& settings);

// The reverse of the same map, for a device the system announces.
std::optional<int> PortForDevicePath(const std::string& path, const SettingLookup& settings);

// "COM<n>"
std::string PortName(int port);

}  // namespace kestrel
