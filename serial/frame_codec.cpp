#include "frame_codec.h"

#include <algorithm>

#include "crc.h"

namespace kestrel {
namespace {

bool NeedsEscape(uint8_t b) { return b >= kFrameEscape && b <= kFrameDmOpen; }

void AppendEscaped(std::array<uint8_t, kFrameBufferSize>& out, std::size_t& n, uint8_t b)
{
    if (NeedsEscape(b)) {
        out[n++] = kFrameEscape;
        out[n++] = static_cast<uint8_t>(b ^ 0x20);
    } else {
        out[n++] = b;
    }
}

}  // namespace

std::size_t EncodeFrame(std::span<const uint8_t> payload, Framing framing,
                        std::array<uint8_t, kFrameBufferSize>& out)
{
    if (payload.size() > kMaxFramePayload) return 0;
    std::size_t n = 0;
    out[n++] = framing == Framing::Dm ? kFrameDmOpen : kFrameFlag;
    for (uint8_t b : payload) AppendEscaped(out, n, b);
    const auto crc = static_cast<uint16_t>(kCrc16X25.Compute(payload.data(), payload.size()));
    AppendEscaped(out, n, static_cast<uint8_t>(crc & 0xFF));
    AppendEscaped(out, n, static_cast<uint8_t>(crc >> 8));
    out[n++] = kFrameFlag;
    while (n % 4 != 0) out[n++] = 0x00;
    return n;
}

DeframeStatus CDeframer::Feed(std::span<const uint8_t> chunk, Framing framing)
{
    bool overflow = false;
    for (uint8_t b : chunk) {
        if (m_nCount == m_accumulator.size()) {
            overflow = true;
            m_nCount = 0;  // this byte is dropped with the rest
        } else {
            m_accumulator[m_nCount++] = b;
        }
    }
    if (overflow) return DeframeStatus::Overflow;
    if (m_nCount < 2 || m_accumulator[0] != kFrameFlag || m_accumulator[m_nCount - 1] != kFrameFlag)
        return DeframeStatus::NeedMore;
    return Complete(framing);
}

DeframeStatus CDeframer::Complete(Framing framing)
{
    // Every flag byte is dropped wherever it stands, so back-to-back frames run together.
    std::size_t m = 0;
    for (std::size_t i = 0; i < m_nCount; ++i) {
        const uint8_t b = m_accumulator[i];
        if (b != kFrameFlag && b != kFrameDmOpen) m_work[m++] = b;
    }
    m_nCount = 0;

    std::size_t k = 0;
    for (std::size_t i = 0; i < m; ++i) {
        if (m_work[i] == kFrameEscape) {
            if (++i == m) return DeframeStatus::Bad;  // an escape with nothing to escape
            m_work[k++] = static_cast<uint8_t>(m_work[i] ^ 0x20);
        } else {
            m_work[k++] = m_work[i];
        }
    }

    if (framing == Framing::Download) {
        if (k < 3) return DeframeStatus::Bad;  // code, p1 and p2 must all be there
    } else {
        if (k < 4) return DeframeStatus::Bad;
        const uint32_t trailer = static_cast<uint32_t>(m_work[k - 4]) << 24 | static_cast<uint32_t>(m_work[k - 3]) << 16 |
                                 static_cast<uint32_t>(m_work[k - 2]) << 8 | m_work[k - 1];
        if (kCrc30Cdma.Compute(m_work.data(), k - 4) != trailer) return DeframeStatus::Bad;
    }
    if (k > m_packet.bytes.size()) return DeframeStatus::Bad;
    std::copy_n(m_work.begin(), k, m_packet.bytes.begin());
    m_packet.length = k;
    return DeframeStatus::Good;
}

}  // namespace kestrel
