#include "reply_builder.h"

#include "serial/crc.h"
#include "wire.h"

namespace kestrel::sim {

ReplyContent MakeReplyContent(uint8_t code, uint8_t p1, uint8_t p2)
{
    ReplyContent c{code, p1, p2, 0, 0};
    const uint32_t crc = kCrc16X25.Compute(c.data(), 3);
    c[3] = static_cast<uint8_t>(crc & 0xFFu);
    c[4] = static_cast<uint8_t>(crc >> 8);
    return c;
}

ReplyContent DamageReply(const ReplyContent& content, uint8_t code, uint8_t p1, uint8_t p2)
{
    ReplyContent c = content;
    c[0] = code;
    c[1] = p1;
    c[2] = p2;
    return c;
}

std::vector<uint8_t> FrameReply(std::span<const uint8_t> content)
{
    std::vector<uint8_t> out;
    out.reserve(content.size() * 2 + 2);
    out.push_back(kFlag);
    for (const uint8_t b : content) {
        if (NeedsEscape(b)) {
            out.push_back(kEscape);
            out.push_back(b ^ kEscapeXor);
        } else {
            out.push_back(b);
        }
    }
    out.push_back(kFlag);
    return out;
}

std::string_view ReplyName(uint8_t code)
{
    switch (static_cast<EReply>(code)) {
    case EReply::Ack: return "ACK";
    case EReply::RetryAck: return "RETRY_ACK";
    case EReply::NakBadCrc: return "NAK_BAD_CRC";
    case EReply::NakModelVersion: return "NAK_MODEL_VERSION";
    case EReply::NakInvalidCmd: return "NAK_INVALID_CMD";
    case EReply::NakFailed: return "NAK_FAILED";
    }
    return "unknown";
}

}  // namespace kestrel::sim
