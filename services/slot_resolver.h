#pragma once
// What a station's slot names: a COM number ("3", "COM3"), an absolute path to a node or a
// link to one (/dev/serial/by-path/...), or "usb:" and udev's ID_PATH of the port's tty.
// The settings SLOT<n> (n from 1 to 255) hold slots and SLOT<n>_LABEL the operator's names
// for them ("Hub A port 3").

#include <optional>
#include <string>
#include <string_view>

#include "serial/com_map.h"

namespace kestrel {

inline constexpr int kMinSlotNumber = 1;
inline constexpr int kMaxSlotNumber = 255;

struct SSlotParts {
    int nPort = 0;            // a COM number; 0 for the others
    std::string strPath{};    // an absolute path, lexically normal
    std::string strIdPath{};  // for usb:
    bool operator==(const SSlotParts&) const = default;
};

// nullopt for what names no slot wherever the program runs: an empty text, one with a control
// character, a relative path (it would depend on the working folder), a number outside 1-255,
// and "usb:" with an ID_PATH that is empty or holds a space or a '/' (udev makes a file name
// of it).
std::optional<SSlotParts> ParseSlot(std::string_view slot);

// The device node the slot leads to now, with every link resolved; "" when it leads to none:
// a refused slot, a missing path, a dangling link, a folder, or an ID_PATH no tty has now.
// A COM number leads where the COM map's path does.
std::string ResolveSlotNode(const std::string& slot, const SettingLookup& settings);

// What a port that is the slot opens now: the node it resolves to, or the slot itself when it
// resolves to none, so that the open fails naming what the operator gave.
std::string SlotNodeToOpen(const std::string& slot, const SettingLookup& settings);

// The label of the slot: for "SLOT<n>" its own, otherwise that of the first SLOT<n> naming the
// same slot ("3" and "COM3" are one). "" when there is none.
std::string SlotLabelFor(const std::string& slot, const SettingLookup& settings);

}  // namespace kestrel
