#pragma once
// One run as the journal keeps it: a value per field, absent where nothing is known. The
// fields name the journal's columns, the keys of the JSON and CSV output and the headers of
// the history listing.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocol/download_view.h"
#include "services/sql_value.h"

namespace kestrel {

enum class JournalField : int {
    Id,
    StartedAt,  // UTC, ISO 8601
    EndedAt,
    FrontEnd,   // "window", "cli", "station"
    Port,
    Device,
    UsbSerial,
    UsbVendorId,
    UsbProductId,
    Image,
    ImageSize,
    ImageSha256,
    ImageVersion,
    OldImage,   // the image a COMPARE run compared with
    OldImageSha256,
    DownloadType,
    Outcome,
    Retransmissions,
    SupervisionExpiries,
    BlocksSent,
    BytesWritten,
    DurationMs,
    BytesPerSecond,
    LastRedLine,
    Slot,       // a station's slot as given: COM number, device path or link, usb:ID_PATH
    SlotLabel,  // the operator's name for the slot
    Opened,     // every node the run opened, with its USB serial: "/dev/ttyACM0 [SN]; ..."
    HookStatus, // how the after-unit command ended: "exit 0", "signal 9", "timed out", "not started"
    StationId,  // the journal's own random identity, made once: the fleet's server keys rows by it
    StationName,
};
inline constexpr int kJournalFieldCount = static_cast<int>(JournalField::StationName) + 1;

using JournalValue = SqlValue;

struct SJournalFieldInfo {
    JournalField eField;
    std::string_view strColumn;  // column, JSON key and CSV header
    std::string_view strHeader;  // as the history listing and the History dialog head it
    int nSchemaVersion = 1;      // the journal's schema version that brought the column
};

// Every field, in column order.
std::span<const SJournalFieldInfo> JournalFields();
// The fields of the history listing and the History dialog; `history show` and the CSV
// files have them all.
std::span<const JournalField> ListedJournalFields();
const SJournalFieldInfo& FieldInfo(JournalField eField);

class CJournalRow {
public:
    const JournalValue& Get(JournalField eField) const { return m_values[Index(eField)]; }
    void Set(JournalField eField, JournalValue value) { m_values[Index(eField)] = std::move(value); }
    // Takes every field the other row has.
    void Merge(const CJournalRow& other);
    // Numbers in decimal; empty when absent.
    std::string Text(JournalField eField) const;
    std::optional<int64_t> Number(JournalField eField) const;

private:
    static std::size_t Index(JournalField eField) { return static_cast<std::size_t>(eField); }
    std::array<JournalValue, kJournalFieldCount> m_values;
};

// Outcomes besides those of RunOutcome: a run going on, and one whose process died.
inline constexpr std::string_view kOutcomeRunning = "running";
inline constexpr std::string_view kOutcomeInterrupted = "interrupted";

std::string_view OutcomeName(RunOutcome eOutcome);
// Every outcome a row can have, for filters to check against.
bool IsJournalOutcome(std::string_view strName);

}  // namespace kestrel
