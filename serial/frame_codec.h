#pragma once
// Byte-stuffed frames of the handset link: requests out, replies in.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrel {

enum class Framing {
    Dm,        // sent frames open with 0x7F; received frames carry a CRC-30 trailer
    Download,  // sent frames open with 0x7E; received content is only unstuffed
};

inline constexpr uint8_t kFrameFlag = 0x7E;
inline constexpr uint8_t kFrameDmOpen = 0x7F;
inline constexpr uint8_t kFrameEscape = 0x7D;

inline constexpr std::size_t kFrameBufferSize = 100;
// Worst case 2n + 6 bytes before padding must fit the frame buffer.
inline constexpr std::size_t kMaxFramePayload = (kFrameBufferSize - 6) / 2;
inline constexpr std::size_t kAccumulatorSize = 512;
inline constexpr std::size_t kRxPacketSize = 500;

// Builds the frame for a payload into out; returns its length, or 0 when the payload is
// longer than kMaxFramePayload.
std::size_t EncodeFrame(std::span<const uint8_t> payload, Framing framing,
                        std::array<uint8_t, kFrameBufferSize>& out);

// Content of one accepted reply; its length travels with it.
struct SRxPacket {
    std::array<uint8_t, kRxPacketSize> bytes{};
    std::size_t length = 0;
};

enum class DeframeStatus {
    NeedMore,  // no complete frame yet
    Overflow,  // 512 bytes without a frame: the rest of this burst is to be dropped
    Good,      // packet() holds the content
    Bad,       // complete but too short, badly escaped, too long or failing its trailer
};

// Collects received bytes into frames. Only the state at the end of a chunk decides, so a
// chunk completes at most one frame.
class CDeframer {
public:
    void Reset() { m_nCount = 0; }
    DeframeStatus Feed(std::span<const uint8_t> chunk, Framing framing);
    const SRxPacket& Packet() const { return m_packet; }

private:
    DeframeStatus Complete(Framing framing);

    std::array<uint8_t, kAccumulatorSize> m_accumulator{};
    std::size_t m_nCount = 0;
    std::array<uint8_t, kAccumulatorSize + 1> m_work{};
    SRxPacket m_packet;
};

}  // namespace kestrel
