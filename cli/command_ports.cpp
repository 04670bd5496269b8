// kestrel-cli ports: the serial ports there are now, with what udev knows of each and the COM
// number and slot that lead to it.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "protocol/exit_codes.h"
#include "services/serial_devices.h"
#include "services/settings_store.h"
#include "services/slot_resolver.h"
#include "terminal_text.h"

namespace kestrel {
namespace {

// The node each of the slots leads to now, with the first n whose slot leads there.
std::map<std::string, int> FirstLeadingTo(int nFirst, int nLast, const std::function<std::string(int)>& slotOf,
                                          const SettingLookup& settings)
{
    std::map<std::string, int> firsts;
    for (int n = nFirst; n <= nLast; ++n)
        if (const std::string strNode = ResolveSlotNode(slotOf(n), settings); !strNode.empty()) firsts.emplace(strNode, n);
    return firsts;
}

std::optional<int> Find(const std::map<std::string, int>& firsts, const std::string& strNode)
{
    const auto it = firsts.find(strNode);
    return it == firsts.end() ? std::nullopt : std::optional<int>(it->second);
}

CJsonObject& AddTextOrNull(CJsonObject& object, std::string_view key, const std::string& strValue)
{
    return strValue.empty() ? object.AddNull(key) : object.Add(key, strValue);
}

CJsonObject PortJson(const SSerialDevice& device, std::optional<int> optCom, std::optional<int> optSlot,
                     const std::string& strLabel)
{
    CJsonObject object;
    object.Add("event", "port").Add("node", device.strNode).Add("by_path", device.vecByPath);
    object.Add("by_id", device.vecById);
    AddTextOrNull(object, "id_path", device.strIdPath);
    const SUsbIdentity usb = device.optUsb.value_or(SUsbIdentity{});
    AddTextOrNull(object, "vendor_id", usb.strVendorId);
    AddTextOrNull(object, "product_id", usb.strProductId);
    AddTextOrNull(object, "serial", usb.strSerial);
    AddTextOrNull(object, "driver", device.strDriver);
    if (optCom)
        object.Add("com", *optCom);
    else
        object.AddNull("com");
    AddTextOrNull(object, "slot", optSlot ? SlotSettingName(*optSlot) : std::string());
    return AddTextOrNull(object, "label", strLabel);
}

// The node with its COM number and slot on the first line, then one line for each thing known.
std::string PortText(const SSerialDevice& device, std::optional<int> optCom, std::optional<int> optSlot,
                     const std::string& strLabel)
{
    std::string strText = TerminalSafe(device.strNode);
    if (optCom) strText += "  " + PortName(*optCom);
    if (optSlot) strText += "  " + SlotSettingName(*optSlot);
    if (!strLabel.empty()) strText += " \"" + TerminalSafe(strLabel) + "\"";
    strText += '\n';
    constexpr std::size_t kNameWidth = 9;  // "by-path" and two spaces
    const auto line = [&strText](std::string_view name, const std::string& strValue) {
        if (!strValue.empty())
            strText += "  " + std::string(name) + std::string(kNameWidth - name.size(), ' ') + TerminalSafe(strValue) + '\n';
    };
    line("driver", device.strDriver);
    if (device.optUsb) {
        const SUsbIdentity& usb = *device.optUsb;
        line("usb", usb.strVendorId + ":" + usb.strProductId + (usb.strSerial.empty() ? "" : "  serial " + usb.strSerial));
    }
    line("id_path", device.strIdPath);
    for (const std::string& strLink : device.vecByPath) line("by-path", strLink);
    for (const std::string& strLink : device.vecById) line("by-id", strLink);
    return strText;
}

}  // namespace

int RunPortsCommand(CCliOutput& out, const SettingLookup& settings)
{
    if (const std::string strProblem = SettingsFileProblem(); !strProblem.empty()) out.Error(strProblem);
    const std::vector<SSerialDevice> devices = ListSerialDevices();
    if (devices.empty()) {
        out.Text("No serial devices.");
        return kExitOk;
    }
    const auto comFor = FirstLeadingTo(kMinPortNumber, kMaxPortNumber, [](int n) { return std::to_string(n); }, settings);
    const auto slotFor = FirstLeadingTo(kMinSlotNumber, kMaxSlotNumber, [&](int n) { return settings(SlotSettingName(n)); }, settings);
    std::string strBlocks;
    for (const SSerialDevice& device : devices) {
        const auto optCom = Find(comFor, device.strNode);
        const auto optSlot = Find(slotFor, device.strNode);
        const std::string strLabel = optSlot ? SlotLabelFor(SlotSettingName(*optSlot), settings) : std::string();
        out.Object(PortJson(device, optCom, optSlot, strLabel));
        strBlocks += (strBlocks.empty() ? "" : "\n") + PortText(device, optCom, optSlot, strLabel);
    }
    out.Text(strBlocks, false);
    return kExitOk;
}

}  // namespace kestrel
