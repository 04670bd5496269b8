#include "com_map.h"

#include <cstdlib>

namespace kestrel {
namespace {

std::string FixedDevice(int port)
{
    if (port >= 1 && port <= 2) return "/dev/ttyS" + std::to_string(port - 1);
    if (port >= 3 && port <= 10) return "/dev/ttyACM" + std::to_string(port - 3);
    if (port >= 11 && port <= 20) return "/dev/ttyUSB" + std::to_string(port - 11);
    return {};
}

const char* EnvironmentDevice(const std::string& portName) { return std::getenv(("KESTREL_" + portName).c_str()); }

}  // namespace

std::string PortName(int port) { return "COM" + std::to_string(port); }

std::string DevicePathForPort(int port, const SettingLookup& settings)
{
    if (port < kMinPortNumber || port > kMaxPortNumber) return {};
    const std::string name = PortName(port);
    if (settings) {
        std::string fromSettings = settings(name);
        if (!fromSettings.empty()) return fromSettings;
    }
    if (const char* env = EnvironmentDevice(name)) return env;
    return FixedDevice(port);
}

bool IsPortMapped(int port, const SettingLookup& settings)
{
    if (port < kMinPortNumber || port > kMaxPortNumber) return false;
    const std::string name = PortName(port);
    return (settings && !settings(name).empty()) || EnvironmentDevice(name) != nullptr;
}

std::optional<int> PortForDevicePath(const std::string& path, const SettingLookup& settings)
{
    if (path.empty()) return std::nullopt;
    for (int port = kMinPortNumber; port <= kMaxPortNumber; ++port)
        if (DevicePathForPort(port, settings) == path) return port;
    return std::nullopt;
}

}  // namespace kestrel
