#include "request_parser.h"

#include "serial/crc.h"

namespace kestrel::sim {
namespace {

uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::size_t PayloadLength(uint8_t code)
{
    switch (static_cast<ERequest>(code)) {
    case ERequest::Start:
    case ERequest::Jump:
        return 1;
    case ERequest::Erase:
        return 9;
    }
    return 0;
}

}  // namespace

std::string_view FrameFaultName(EFrameFault fault)
{
    switch (fault) {
    case EFrameFault::None: return "none";
    case EFrameFault::TooShort: return "too-short";
    case EFrameFault::BadCrc: return "bad-crc";
    case EFrameFault::BadEscape: return "bad-escape";
    case EFrameFault::StrayByte: return "stray-byte";
    case EFrameFault::Incomplete: return "incomplete";
    case EFrameFault::UnknownCode: return "unknown-code";
    case EFrameFault::WrongLength: return "wrong-length";
    }
    return "?";
}

std::string_view RequestName(ERequest request)
{
    switch (request) {
    case ERequest::Start: return "START_REQ";
    case ERequest::Jump: return "JUMP_REQ";
    case ERequest::Erase: return "ERASE_REQ";
    }
    return "?";
}

std::size_t CRequestParser::Feed(std::span<const uint8_t> in, std::optional<SParsedUnit>& unit)
{
    unit.reset();
    for (std::size_t i = 0; i < in.size(); ++i) {
        const uint8_t b = in[i];
        if (!m_bInFrame) {
            if (m_nPadding > 0 && b == 0x00) {
                --m_nPadding;
                continue;
            }
            m_nPadding = 0;
            if (b != kFlag) {
                AddGarbage(b);
                continue;
            }
            m_bInFrame = true;
            m_vecFrame.clear();
            if (m_nGarbage > 0) {
                unit = TakeGarbage();
                return i + 1;
            }
            continue;
        }
        if (b == kFlag) {
            if (m_vecFrame.empty()) {
                // Two flags in a row: the first stood alone, the second opens the frame.
                AddGarbage(kFlag);
                unit = TakeGarbage();
                return i + 1;
            }
            unit = DecodeFrame();
            m_bInFrame = false;
            m_nPadding = (4 - (m_vecFrame.size() + 2) % 4) % 4;
            return i + 1;
        }
        if (m_vecFrame.size() == kMaxFrameBytes) {
            // Far too long for a request: what was taken for a frame was stray bytes.
            m_bInFrame = false;
            AddGarbage(kFlag);
            for (const uint8_t f : m_vecFrame) AddGarbage(f);
            AddGarbage(b);
            continue;
        }
        m_vecFrame.push_back(b);
    }
    return in.size();
}

std::optional<SParsedUnit> CRequestParser::Flush()
{
    std::optional<SParsedUnit> unit;
    if (m_bInFrame && !m_vecFrame.empty()) {
        SParsedUnit u;
        u.eKind = EUnitKind::BadFrame;
        u.eFault = EFrameFault::Incomplete;
        u.nWireBytes = m_vecFrame.size() + 1;
        u.vecWire.push_back(kFlag);
        u.vecWire.insert(u.vecWire.end(), m_vecFrame.begin(), m_vecFrame.end());
        unit = std::move(u);
    } else if (m_bInFrame) {
        AddGarbage(kFlag);
    }
    if (!unit && m_nGarbage > 0) unit = TakeGarbage();
    Reset();
    return unit;
}

std::size_t CRequestParser::SkipPadding(std::span<const uint8_t> in)
{
    std::size_t n = 0;
    while (n < in.size() && m_nPadding > 0 && in[n] == 0x00) {
        ++n;
        --m_nPadding;
    }
    return n;
}

void CRequestParser::Reset()
{
    m_bInFrame = false;
    m_vecFrame.clear();
    m_vecGarbage.clear();
    m_nGarbage = 0;
    m_nPadding = 0;
}

void CRequestParser::AddGarbage(uint8_t b)
{
    if (m_vecGarbage.size() < kMaxKeptBytes) m_vecGarbage.push_back(b);
    ++m_nGarbage;
}

SParsedUnit CRequestParser::TakeGarbage()
{
    SParsedUnit u;
    u.eKind = EUnitKind::Garbage;
    u.nWireBytes = m_nGarbage;
    u.vecWire = std::move(m_vecGarbage);
    m_vecGarbage.clear();
    m_nGarbage = 0;
    return u;
}

SParsedUnit CRequestParser::DecodeFrame() const
{
    SParsedUnit u;
    u.nWireBytes = m_vecFrame.size() + 2;
    u.vecWire.reserve(u.nWireBytes);
    u.vecWire.push_back(kFlag);
    u.vecWire.insert(u.vecWire.end(), m_vecFrame.begin(), m_vecFrame.end());
    u.vecWire.push_back(kFlag);

    auto bad = [&u](EFrameFault fault) {
        u.eKind = EUnitKind::BadFrame;
        u.eFault = fault;
        return u;
    };
    uint8_t content[kMaxFrameBytes];
    std::size_t n = 0;
    for (std::size_t i = 0; i < m_vecFrame.size(); ++i) {
        const uint8_t b = m_vecFrame[i];
        if (b == kEscape) {
            if (i + 1 == m_vecFrame.size()) return bad(EFrameFault::BadEscape);
            const uint8_t real = m_vecFrame[++i] ^ kEscapeXor;
            if (!NeedsEscape(real)) return bad(EFrameFault::BadEscape);
            content[n++] = real;
        } else if (NeedsEscape(b)) {
            return bad(EFrameFault::StrayByte);
        } else {
            content[n++] = b;
        }
    }
    if (n < 3) return bad(EFrameFault::TooShort);
    const std::size_t payload = n - 2;
    const uint32_t sent = static_cast<uint32_t>(content[payload]) | static_cast<uint32_t>(content[payload + 1]) << 8;
    if (kCrc16X25.Compute(content, payload) != sent) return bad(EFrameFault::BadCrc);

    const std::size_t want = PayloadLength(content[0]);
    if (want == 0 || want != payload) {
        u.eKind = EUnitKind::Invalid;
        u.eFault = want == 0 ? EFrameFault::UnknownCode : EFrameFault::WrongLength;
        return u;
    }
    u.eKind = EUnitKind::Request;
    u.eRequest = static_cast<ERequest>(content[0]);
    if (u.eRequest == ERequest::Erase) {
        u.dwStart = ReadLe32(content + 1);
        u.dwLength = ReadLe32(content + 5);
    }
    return u;
}

}  // namespace kestrel::sim
