#pragma once
// --port and --baud, with their defaults from the settings store.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/com_map.h"

namespace kestrel {

struct CPortOptions {
    int nPort = 1;                // COM number; 0 when strDevicePath was given directly
    // The device to open: a node, a link to one (/dev/serial/by-path/...) or usb:ID_PATH; a
    // link or usb:ID_PATH is resolved again at every open.
    std::string strDevicePath;
    std::string strLabel;         // SLOT<n>_LABEL, for a port given as SLOT<n>
    uint32_t dwBaudRate = 57600;
};

// The prefix of a slot named by udev's ID_PATH of its USB port.
inline constexpr std::string_view kUsbSlotPrefix = "usb:";

// 1 to 9 decimal digits and nothing else.
std::optional<long> ParseDecimal(const std::string& text);

// "SLOT3": the number of a slot the settings name; nullopt for anything else.
std::optional<int> ParseSlotName(const std::string& text);
// The settings of slot n: "SLOT<n>" holds the slot, "SLOT<n>_LABEL" its label.
std::string SlotSettingName(int n);
std::string SlotLabelSettingName(int n);

// "3", "COM3" or "/dev/ttyACM0". nullopt for anything else.
std::optional<int> ParsePortNumber(const std::string& text);

// Speed of a BAUD setting index: 0 is 57600, 1 is 115200 (and the default when BAUD is absent).
uint32_t BaudRateForIndex(long index);

// Builds the options from what the command line gave (empty when not given) and the
// settings (PORT, BAUD, COM<n>, SLOT<n> and SLOT<n>_LABEL). A port is a COM number, a device
// path or link, usb:ID_PATH, or SLOT<n>: the slot the setting SLOT<n> names, labelled by
// SLOT<n>_LABEL. False with a message in error when they make no sense, or name a COM number
// that the map gives no device.
bool ResolvePortOptions(const std::string& portArg, const std::string& baudArg, const SettingLookup& settings,
                        CPortOptions& options, std::string& error);

// Every --port given (a range N-M stands for each number in it; none given: the PORT
// setting), each resolved as above; a port given twice (the same number, or two that map to
// one device) is refused.
bool ResolvePortList(const std::vector<std::string>& portArgs, const std::string& baudArg, const SettingLookup& settings,
                     std::vector<CPortOptions>& ports, std::string& error);

// The ports a station offers before the operator chooses, by number: the PORT setting's, each
// one the COM map names a device for by a setting or variable, and each handset port of the
// fixed scheme (COM3 on) whose device is there now.
std::vector<int> DefaultStationPorts(const SettingLookup& settings,
                                     const std::function<bool(const std::string& device)>& deviceExists);

}  // namespace kestrel
