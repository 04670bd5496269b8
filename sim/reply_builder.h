#pragma once
// Replies as the handset sends them: 0x7E, escaped content, 0x7E. The content is the code,
// p1, p2 and the CRC-16/X.25 of those three, low byte first.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kestrel::sim {

using ReplyContent = std::array<uint8_t, 5>;

ReplyContent MakeReplyContent(uint8_t code, uint8_t p1, uint8_t p2);

// The content with code and parameters replaced but the old check value kept, as a reply
// damaged on the line arrives.
ReplyContent DamageReply(const ReplyContent& content, uint8_t code, uint8_t p1, uint8_t p2);

std::vector<uint8_t> FrameReply(std::span<const uint8_t> content);

// Name of a reply code, or "unknown".
std::string_view ReplyName(uint8_t code);

}  // namespace kestrel::sim
