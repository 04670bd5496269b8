#include "services/port_options.h"

#include <cstdlib>
#include <set>

namespace kestrel {

// COM1 and COM2 are the machine's own serial ports, never a handset.
constexpr int kFirstHandsetPort = 3;

std::optional<long> ParseDecimal(const std::string& text)
{
    if (text.empty() || text.size() > 9) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    return std::strtol(text.c_str(), nullptr, 10);
}

std::optional<int> ParseSlotName(const std::string& text)
{
    if (text.size() <= 4 || (text.rfind("SLOT", 0) != 0 && text.rfind("slot", 0) != 0)) return std::nullopt;
    const auto n = ParseDecimal(text.substr(4));
    if (!n || *n < kMinPortNumber || *n > kMaxPortNumber) return std::nullopt;
    return static_cast<int>(*n);
}

std::string SlotSettingName(int n) { return "SLOT" + std::to_string(n); }

std::string SlotLabelSettingName(int n) { return SlotSettingName(n) + "_LABEL"; }

std::optional<int> ParsePortNumber(const std::string& text)
{
    std::string digits = text;
    if (digits.size() > 3 && (digits.rfind("COM", 0) == 0 || digits.rfind("com", 0) == 0)) digits = digits.substr(3);
    const auto n = ParseDecimal(digits);
    if (!n || *n < kMinPortNumber || *n > kMaxPortNumber) return std::nullopt;
    return static_cast<int>(*n);
}

uint32_t BaudRateForIndex(long index) { return index == 1 ? 115200 : 57600; }

bool ResolvePortOptions(const std::string& portArg, const std::string& baudArg, const SettingLookup& settings,
                        CPortOptions& options, std::string& error)
{
    const auto setting = [&](const char* name) { return settings ? settings(name) : std::string(); };

    std::string slotArg = portArg;
    if (const auto slot = ParseSlotName(portArg)) {
        slotArg = setting(SlotSettingName(*slot).c_str());
        options.strLabel = setting(SlotLabelSettingName(*slot).c_str());
        if (slotArg.empty() || ParseSlotName(slotArg)) {
            error = "--port " + portArg + ": the setting " + portArg +
                    " names no port (a COM number, a device path or usb:ID_PATH).";
            return false;
        }
    }
    if (slotArg.rfind(kUsbSlotPrefix, 0) == 0) {
        if (slotArg.size() == kUsbSlotPrefix.size()) {
            error = "--port " + portArg + ": usb: is followed by udev's ID_PATH of the USB port (see kestrel-cli ports).";
            return false;
        }
        options.nPort = 0;
        options.strDevicePath = slotArg;
    } else if (!slotArg.empty() && slotArg[0] == '/') {
        options.nPort = 0;
        options.strDevicePath = slotArg;
    } else {
        const std::string text = portArg.empty() ? setting("PORT") : slotArg;
        const auto port = text.empty() ? std::optional<int>(1) : ParsePortNumber(text);
        if (!port) {
            error = portArg.empty() ? "The PORT setting \"" + text + "\" is not a port number from 1 to 255."
                                    : "--port takes a number from 1 to 255, COMn, a device path, usb:ID_PATH or SLOTn.";
            return false;
        }
        options.nPort = *port;
        options.strDevicePath = DevicePathForPort(*port, settings);
        if (options.strDevicePath.empty()) {
            const std::string name = PortName(*port);
            error = (portArg.empty() ? "The PORT setting " + text : "--port " + portArg) + ": no device is mapped to " +
                    name + " (the fixed map ends at COM20; the setting " + name + " or the variable KESTREL_" + name +
                    " maps one).";
            return false;
        }
    }

    if (baudArg.empty()) {
        const std::string baud = setting("BAUD");
        options.dwBaudRate = BaudRateForIndex(baud.empty() ? 1 : std::atol(baud.c_str()));
    } else if (baudArg == "57600" || baudArg == "115200") {
        options.dwBaudRate = static_cast<uint32_t>(std::atol(baudArg.c_str()));
    } else {
        error = "--baud takes 57600 or 115200.";
        return false;
    }
    return true;
}

bool ResolvePortList(const std::vector<std::string>& portArgs, const std::string& baudArg, const SettingLookup& settings,
                     std::vector<CPortOptions>& ports, std::string& error)
{
    std::vector<std::string> expanded;
    for (const std::string& arg : portArgs) {
        // An unset variable in a script: not the default port, which may be another handset.
        if (arg.find_first_not_of(" \t\r\n") == std::string::npos) {
            error = "--port is empty: give a COM number, COMn, a device path or a range N-M.";
            return false;
        }
        const std::size_t dash = arg.find('-');
        if (arg[0] == '/' || arg.rfind(kUsbSlotPrefix, 0) == 0 || dash == std::string::npos) {
            expanded.push_back(arg);
            continue;
        }
        const auto first = ParsePortNumber(arg.substr(0, dash));
        const auto last = ParsePortNumber(arg.substr(dash + 1));
        if (!first || !last || *first > *last) {
            error = "--port " + arg + ": a range is two port numbers, the smaller first (3-10).";
            return false;
        }
        for (int n = *first; n <= *last; ++n) expanded.push_back(std::to_string(n));
    }
    if (expanded.empty()) expanded.emplace_back();
    ports.clear();
    for (std::size_t i = 0; i < expanded.size(); ++i) {
        CPortOptions options;
        if (!ResolvePortOptions(expanded[i], baudArg, settings, options, error)) return false;
        // Every port has a device by now, and one number always maps to the same device.
        for (std::size_t j = 0; j < ports.size(); ++j)
            if (ports[j].strDevicePath == options.strDevicePath) {
                error = "--port " + expanded[i] + " is given twice: it is " + options.strDevicePath + ", as --port " +
                        expanded[j] + " is.";
                return false;
            }
        ports.push_back(options);
    }
    return true;
}

std::vector<int> DefaultStationPorts(const SettingLookup& settings,
                                     const std::function<bool(const std::string& device)>& deviceExists)
{
    std::set<int> ports;
    if (const auto port = ParsePortNumber(settings ? settings("PORT") : std::string())) ports.insert(*port);
    for (int port = kMinPortNumber; port <= kMaxPortNumber; ++port) {
        // An unmapped port's device is the fixed scheme's: no need to read the settings again.
        if (IsPortMapped(port, settings) || (port >= kFirstHandsetPort && deviceExists(DevicePathForPort(port, nullptr))))
            ports.insert(port);
    }
    return {ports.begin(), ports.end()};
}

}  // namespace kestrel
