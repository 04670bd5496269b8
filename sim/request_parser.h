#pragma once
// Splits the bytes the tool sends into framed requests, damaged frames and stray bytes.
// A frame is 0x7E, escaped payload and CRC-16/X.25 (low byte first), 0x7E, then 0x00 bytes
// that pad it to a multiple of four; the parser keeps its state across reads.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "wire.h"

namespace kestrel::sim {

enum class EUnitKind : uint8_t {
    Request,   // a good frame holding a request the handset knows
    Invalid,   // a good frame holding something that is not a request
    BadFrame,  // a frame damaged on the way
    Garbage,   // bytes outside any frame
};

enum class EFrameFault : uint8_t {
    None,
    TooShort,     // fewer than three bytes after unescaping
    BadCrc,
    BadEscape,    // 0x7D at the end or before a byte that is never escaped
    StrayByte,    // an unescaped 0x7F inside the frame
    Incomplete,   // the closing flag never came
    UnknownCode,  // Invalid: first payload byte is no request code
    WrongLength,  // Invalid: a request code with the wrong payload length
};

std::string_view FrameFaultName(EFrameFault fault);
std::string_view RequestName(ERequest request);

struct SParsedUnit {
    EUnitKind eKind = EUnitKind::Garbage;
    ERequest eRequest = ERequest::Start;  // Request only
    uint32_t dwStart = 0;                 // ERASE_REQ only
    uint32_t dwLength = 0;                // ERASE_REQ only
    EFrameFault eFault = EFrameFault::None;
    std::size_t nWireBytes = 0;           // bytes of the unit on the wire, flags included
    std::vector<uint8_t> vecWire;         // the first of those bytes, for the transcript
};

class CRequestParser {
public:
    // Content between the flags beyond this is no request: the longest, ERASE_REQ, needs 22.
    static constexpr std::size_t kMaxFrameBytes = 64;
    // Stray bytes are counted in full but only this many are kept.
    static constexpr std::size_t kMaxKeptBytes = 64;

    // Consumes bytes up to the end of the next unit, or all of them; returns how many.
    std::size_t Feed(std::span<const uint8_t> in, std::optional<SParsedUnit>& unit);
    // Ends what is pending: stray bytes, or a frame whose closing flag never came.
    std::optional<SParsedUnit> Flush();
    // Consumes the 0x00 bytes that still pad the last frame; returns how many.
    std::size_t SkipPadding(std::span<const uint8_t> in);
    bool HasPending() const { return m_bInFrame || m_nGarbage > 0; }
    void Reset();

private:
    SParsedUnit TakeGarbage();
    void AddGarbage(uint8_t b);
    SParsedUnit DecodeFrame() const;

    bool m_bInFrame = false;
    std::vector<uint8_t> m_vecFrame;    // bytes between the flags, still escaped
    std::vector<uint8_t> m_vecGarbage;  // first stray bytes
    std::size_t m_nGarbage = 0;
    std::size_t m_nPadding = 0;         // padding bytes still allowed after the last frame
};

}  // namespace kestrel::sim
