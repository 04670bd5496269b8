#pragma once
// Table-driven CRCs of the handset link. Each variant is one row of parameters;
// its table is built bit by bit from the polynomial, one lookup per byte after that.

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrel {

struct SCrcParams {
    unsigned width;      // 16 or 30 here; at most 32
    uint32_t poly;       // normal (unreflected) polynomial
    uint32_t init;
    bool reflected;      // input and output reflected together
    uint32_t xorOut;
};

class CCrcModel {
public:
    constexpr explicit CCrcModel(const SCrcParams& p) : m_params(p), m_table(BuildTable(p)) {}

    constexpr uint32_t Begin() const { return m_params.init; }
    constexpr uint32_t Update(uint32_t crc, const uint8_t* data, std::size_t len) const
    {
        for (std::size_t i = 0; i < len; ++i) crc = Step(crc, data[i]);
        return crc;
    }
    constexpr uint32_t Finish(uint32_t crc) const { return (crc ^ m_params.xorOut) & Mask(); }
    constexpr uint32_t Compute(const uint8_t* data, std::size_t len) const
    {
        return Finish(Update(Begin(), data, len));
    }
    constexpr uint32_t TableEntry(std::size_t i) const { return m_table[i]; }

private:
    constexpr uint32_t Mask() const
    {
        return m_params.width >= 32 ? 0xFFFFFFFFu : ((1u << m_params.width) - 1u);
    }
    constexpr uint32_t Step(uint32_t crc, uint8_t b) const
    {
        if (m_params.reflected) return m_table[(crc ^ b) & 0xFFu] ^ (crc >> 8);
        return ((crc << 8) ^ m_table[((crc >> (m_params.width - 8)) ^ b) & 0xFFu]) & Mask();
    }
    static constexpr uint32_t Reflect(uint32_t v, unsigned width)
    {
        uint32_t r = 0;
        for (unsigned i = 0; i < width; ++i)
            if (v & (1u << i)) r |= 1u << (width - 1 - i);
        return r;
    }
    static constexpr std::array<uint32_t, 256> BuildTable(const SCrcParams& p)
    {
        std::array<uint32_t, 256> t{};
        const uint32_t mask = p.width >= 32 ? 0xFFFFFFFFu : ((1u << p.width) - 1u);
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c;
            if (p.reflected) {
                const uint32_t rpoly = Reflect(p.poly, p.width);
                c = i;
                for (int k = 0; k < 8; ++k) c = (c & 1u) ? (c >> 1) ^ rpoly : c >> 1;
            } else {
                const uint32_t top = 1u << (p.width - 1);
                c = i << (p.width - 8);
                for (int k = 0; k < 8; ++k) c = ((c & top) ? (c << 1) ^ p.poly : c << 1) & mask;
            }
            t[i] = c;
        }
        return t;
    }

    SCrcParams m_params;
    std::array<uint32_t, 256> m_table;
};

// Frame check of every sent frame.
inline constexpr CCrcModel kCrc16X25{{16, 0x1021, 0xFFFF, true, 0xFFFF}};
// Check value the handset returns for every raw data block.
inline constexpr CCrcModel kCrc16Mcrf4xx{{16, 0x1021, 0xFFFF, true, 0x0000}};
// Trailer of frames received before the first download request.
inline constexpr CCrcModel kCrc30Cdma{{30, 0x2030B9C7, 0x3FFFFFFF, false, 0x3FFFFFFF}};

}  // namespace kestrel
