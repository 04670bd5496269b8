#pragma once
// The handset's side of the line protocol: the bytes it recognises and the codes it answers with.
// Kept apart from the tool's own definitions so that a wrong constant there cannot agree with
// itself here.

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrel::sim {

inline constexpr uint8_t kFlag = 0x7E;
inline constexpr uint8_t kEscape = 0x7D;
inline constexpr uint8_t kEscapeXor = 0x20;
inline constexpr std::size_t kBlockBytes = 1024;

// True for the bytes that travel escaped: 0x7D, 0x7E and 0x7F.
constexpr bool NeedsEscape(uint8_t b) { return b >= 0x7D && b <= 0x7F; }

enum class ERequest : uint8_t {
    Start = 0xA0,
    Jump = 0xC0,
    Erase = 0xEE,
};

enum class EReply : uint8_t {
    Ack = 0x02,
    RetryAck = 0x03,
    NakBadCrc = 0xA1,
    NakModelVersion = 0xA2,
    NakInvalidCmd = 0xA3,
    NakFailed = 0xA4,
};

inline constexpr std::array<uint8_t, 7> kRetrySignature{0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24};
inline constexpr uint8_t kRetryMarker = 0x01;      // byte 7 of the retransmit request block
inline constexpr uint8_t kSignatureMarker = 0x02;  // byte 7 of an image block that begins with the signature

inline constexpr char kModeSwitchCommand[] = "AT$ZQKVMW";

}  // namespace kestrel::sim
