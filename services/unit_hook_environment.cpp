#include "services/unit_hook_environment.h"

namespace kestrel {
namespace {

// "12.345", whatever the locale.
std::string SecondsText(std::optional<int64_t> optMs)
{
    if (!optMs || *optMs < 0) return {};
    std::string strMs = std::to_string(*optMs % 1000);
    strMs.insert(0, 3 - strMs.size(), '0');
    return std::to_string(*optMs / 1000) + "." + strMs;
}

}  // namespace

HookEnvironment UnitHookEnvironment(const CJournalRow& row, const std::string& strPort, int nExitCode)
{
    using enum JournalField;
    return {
        {"KESTREL_PORT", strPort},
        {"KESTREL_SLOT", row.Text(Slot)},
        {"KESTREL_DEVICE", row.Text(Device)},
        {"KESTREL_OUTCOME", row.Text(Outcome)},
        {"KESTREL_EXIT_CODE", std::to_string(nExitCode)},
        {"KESTREL_SECONDS", SecondsText(row.Number(DurationMs))},
        {"KESTREL_IMAGE", row.Text(Image)},
        {"KESTREL_IMAGE_SHA256", row.Text(ImageSha256)},
        {"KESTREL_USB_SERIAL", row.Text(UsbSerial)},
        {"KESTREL_RUN_ID", row.Text(Id)},
    };
}

}  // namespace kestrel
