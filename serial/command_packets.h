#pragma once
// The vocabulary of the download protocol: request and reply codes, the image block record,
// the retransmit request block and the rule that protects blocks looking like it.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrel {

inline constexpr std::size_t kBlockSize = 1024;

enum RequestCode : uint8_t {
    START_REQ = 0xA0,
    JUMP_REQ = 0xC0,
    ERASE_REQ = 0xEE,
};

enum ReplyCode : uint8_t {
    ACK = 0x02,
    RETRY_ACK = 0x03,
    NAK_BAD_CRC = 0xA1,
    NAK_MODEL_VERSION = 0xA2,
    NAK_INVALID_CMD = 0xA3,
    NAK_FAILED = 0xA4,
};

// Name of a reply code for logs and the command line; nullopt for a code the protocol lacks.
std::optional<std::string_view> ReplyCodeName(uint8_t code);

// One image block: the data goes on the wire, offset and length stay on the PC.
struct BlockPacket {
    uint8_t spare = 0;
    uint32_t dwOffset = 0;
    uint16_t wLength = 0;
    std::array<uint8_t, kBlockSize> data{};
};

inline constexpr std::array<uint8_t, 7> kRetransmitSignature{0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24};

// Writes the retransmit request block into the packet; the file offset is left as it was.
void FillRetryRequest(BlockPacket& packet);

// Applied to every block freshly read from an image. An image block that begins with the
// retransmit signature would be taken by the handset as a retransmit request, so its byte 7
// is changed to 0x02 and it is sent untracked; the block after it is never tested.
void ApplySignatureRule(BlockPacket& packet, bool& retransmitPending);

// CRC the handset returns for a block: CRC-16/MCRF4XX over the data bytes.
uint16_t BlockCrc(const uint8_t* data, std::size_t len);

// The mode-switch AT command, written byte by byte.
inline constexpr std::string_view kModeSwitchCommand{"AT$ZQKVMW\r"};

}  // namespace kestrel
