#include "command_packets.h"

#include <algorithm>

#include "crc.h"

namespace kestrel {

std::optional<std::string_view> ReplyCodeName(uint8_t code)
{
    switch (code) {
    case ACK: return "ACK";
    case RETRY_ACK: return "RETRY_ACK";
    case NAK_BAD_CRC: return "NAK_BAD_CRC";
    case NAK_MODEL_VERSION: return "NAK_MODEL_VERSION";
    case NAK_INVALID_CMD: return "NAK_INVALID_CMD";
    case NAK_FAILED: return "NAK_FAILED";
    default: return std::nullopt;
    }
}

void FillRetryRequest(BlockPacket& packet)
{
    packet.data.fill(0x00);
    std::copy(kRetransmitSignature.begin(), kRetransmitSignature.end(), packet.data.begin());
    packet.data[7] = 0x01;
    packet.wLength = kBlockSize;
}

void ApplySignatureRule(BlockPacket& packet, bool& retransmitPending)
{
    if (retransmitPending) {
        retransmitPending = false;
        return;
    }
    if (std::equal(kRetransmitSignature.begin(), kRetransmitSignature.end(), packet.data.begin())) {
        packet.data[7] = 0x02;
        retransmitPending = true;
    }
}

uint16_t BlockCrc(const uint8_t* data, std::size_t len)
{
    return static_cast<uint16_t>(kCrc16Mcrf4xx.Compute(data, len));
}

}  // namespace kestrel
