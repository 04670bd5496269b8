#include "services/slot_resolver.h"

#include <algorithm>
#include <filesystem>

#include "services/device_paths.h"
#include "services/port_options.h"
#include "services/serial_devices.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

bool HasControl(std::string_view text)
{
    return std::ranges::any_of(text, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::string ExistingNode(const std::string& strPath)
{
    return fs::path(strPath).is_absolute() ? LiveDevice(strPath) : std::string();
}

}  // namespace

std::optional<SSlotParts> ParseSlot(std::string_view slot)
{
    if (slot.empty() || HasControl(slot)) return std::nullopt;
    if (slot.starts_with(kUsbSlotPrefix)) {
        const std::string_view idPath = slot.substr(kUsbSlotPrefix.size());
        if (idPath.empty() || idPath.find_first_of(" /") != std::string_view::npos) return std::nullopt;
        return SSlotParts{.strIdPath = std::string(idPath)};
    }
    if (slot.front() == '/') return SSlotParts{.strPath = fs::path(slot).lexically_normal().string()};
    if (const auto port = ParsePortNumber(std::string(slot))) return SSlotParts{.nPort = *port};
    return std::nullopt;
}

std::string ResolveSlotNode(const std::string& slot, const SettingLookup& settings)
{
    const auto parsed = ParseSlot(slot);
    if (!parsed) return {};
    if (!parsed->strIdPath.empty()) return FindTtyNodeByIdPath(parsed->strIdPath);
    return ExistingNode(parsed->nPort > 0 ? DevicePathForPort(parsed->nPort, settings) : parsed->strPath);
}

std::string SlotNodeToOpen(const std::string& slot, const SettingLookup& settings)
{
    std::string node = ResolveSlotNode(slot, settings);
    return node.empty() ? slot : node;
}

std::string SlotLabelFor(const std::string& slot, const SettingLookup& settings)
{
    if (!settings) return {};
    if (const auto n = ParseSlotName(slot)) return settings(SlotLabelSettingName(*n));
    const auto parsed = ParseSlot(slot);
    if (!parsed) return {};
    for (int n = kMinSlotNumber; n <= kMaxSlotNumber; ++n)
        if (ParseSlot(settings(SlotSettingName(n))) == parsed) return settings(SlotLabelSettingName(n));
    return {};
}

}  // namespace kestrel
