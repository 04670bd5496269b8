#include "services/journal_fields.h"

#include <algorithm>

namespace kestrel {
namespace {

using enum JournalField;

constexpr std::array<SJournalFieldInfo, kJournalFieldCount> kFields{{
    {Id, "id", "ID"},
    {StartedAt, "started_at", "Started (UTC)"},
    {EndedAt, "ended_at", "Ended (UTC)"},
    {FrontEnd, "front_end", "Front end"},
    {Port, "port", "Port"},
    {Device, "device", "Device"},
    {UsbSerial, "usb_serial", "USB serial"},
    {UsbVendorId, "usb_vendor_id", "USB vendor"},
    {UsbProductId, "usb_product_id", "USB product"},
    {Image, "image", "Image"},
    {ImageSize, "image_size", "Image size"},
    {ImageSha256, "image_sha256", "Image SHA-256"},
    {ImageVersion, "image_version", "Version"},
    {OldImage, "old_image", "Old image"},
    {OldImageSha256, "old_image_sha256", "Old image SHA-256"},
    {DownloadType, "download_type", "Type"},
    {Outcome, "outcome", "Outcome"},
    {Retransmissions, "retransmissions", "Retransmissions"},
    {SupervisionExpiries, "supervision_expiries", "Timeouts"},
    {BlocksSent, "blocks_sent", "Blocks sent"},
    {BytesWritten, "bytes_written", "Bytes written"},
    {DurationMs, "duration_ms", "Duration (ms)"},
    {BytesPerSecond, "bytes_per_second", "Bytes/s"},
    {LastRedLine, "last_red_line", "Last red line"},
    {Slot, "slot", "Slot", 3},
    {SlotLabel, "slot_label", "Slot label", 3},
    {Opened, "opened", "Opened", 3},
    {HookStatus, "hook_status", "Hook status", 4},
    {StationId, "station_id", "Station id", 5},
    {StationName, "station_name", "Station", 5},
}};

constexpr std::array kListed{Id, StartedAt, FrontEnd, Port, Device, DownloadType, ImageVersion, Outcome, BytesWritten, DurationMs, Image};

// RunOutcome's values in their order, then the two of the journal's own.
constexpr std::array<std::string_view, 10> kOutcomes{"completed", "nothing-to-do", "stopped", "handset-error", "no-response",
                                                     "port-error", "file-error", "refused", kOutcomeRunning, kOutcomeInterrupted};
static_assert(static_cast<std::size_t>(RunOutcome::Refused) == 7, "kOutcomes follows RunOutcome");

}  // namespace

std::span<const SJournalFieldInfo> JournalFields() { return kFields; }

std::span<const JournalField> ListedJournalFields() { return kListed; }

const SJournalFieldInfo& FieldInfo(JournalField eField) { return kFields[static_cast<std::size_t>(eField)]; }

void CJournalRow::Merge(const CJournalRow& other)
{
    for (std::size_t i = 0; i < m_values.size(); ++i)
        if (!std::holds_alternative<std::monostate>(other.m_values[i])) m_values[i] = other.m_values[i];
}

std::string CJournalRow::Text(JournalField eField) const
{
    const JournalValue& value = Get(eField);
    if (const auto* pNumber = std::get_if<int64_t>(&value)) return std::to_string(*pNumber);
    if (const auto* pText = std::get_if<std::string>(&value)) return *pText;
    return {};
}

std::optional<int64_t> CJournalRow::Number(JournalField eField) const
{
    const auto* pNumber = std::get_if<int64_t>(&Get(eField));
    return pNumber ? std::optional<int64_t>(*pNumber) : std::nullopt;
}

std::string_view OutcomeName(RunOutcome eOutcome)
{
    return kOutcomes[static_cast<std::size_t>(eOutcome)];
}

bool IsJournalOutcome(std::string_view strName)
{
    return std::find(kOutcomes.begin(), kOutcomes.end(), strName) != kOutcomes.end();
}

}  // namespace kestrel
