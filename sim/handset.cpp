#include "handset.h"

#include <algorithm>

#include "serial/crc.h"
#include "wire.h"

namespace kestrel::sim {
namespace {

using Reply = std::array<uint8_t, 3>;

constexpr Reply kAck{static_cast<uint8_t>(EReply::Ack), 0x00, 0x00};
constexpr Reply kRetryAck{static_cast<uint8_t>(EReply::RetryAck), 0x03, 0x03};
constexpr Reply kNakBadCrc{static_cast<uint8_t>(EReply::NakBadCrc), 0x00, 0x00};
constexpr Reply kNakInvalid{static_cast<uint8_t>(EReply::NakInvalidCmd), 0x9E, 0x4C};
constexpr Reply kNakFailed{static_cast<uint8_t>(EReply::NakFailed), 0x00, 0x00};
constexpr std::size_t kMaxNormalLine = 64;

CJsonLine FaultLine(std::string_view kind)
{
    CJsonLine line("fault");
    line.Text("kind", kind);
    return line;
}

CJsonLine RxLine(std::string_view unit, uint32_t baud)
{
    CJsonLine line("rx");
    line.Text("unit", unit);
    line.Number("baud", baud);
    return line;
}

ETrigger TriggerOf(ERequest request)
{
    switch (request) {
    case ERequest::Start: return ETrigger::Start;
    case ERequest::Jump: return ETrigger::Jump;
    case ERequest::Erase: return ETrigger::Erase;
    }
    return ETrigger::Start;
}

}  // namespace

CHandset::CHandset(CFlashModel& flash, CTranscript& transcript, unsigned eraseMs)
    : m_flash(flash), m_transcript(transcript), m_nEraseMs(eraseMs)
{
}

void CHandset::EnterDownloadMode()
{
    SetStage(EStage::Boot);
}

void CHandset::EnterNormalMode()
{
    SetStage(EStage::Normal);
}

void CHandset::SetStage(EStage stage)
{
    static constexpr std::string_view kNames[] = {"normal", "boot", "started", "jumped", "loader", "blocks"};
    if (stage == EStage::Normal || stage == EStage::Boot) {
        // A restart: whatever was half received belongs to the session that ended.
        if (!m_strLine.empty()) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(m_strLine.data());
            m_transcript.Write(RxLine("normal-input", m_dwLastBaud).Hex("bytes", {bytes, m_strLine.size()}));
        }
        m_parser.Reset();
        m_strLine.clear();
        m_vecBurst.clear();
        m_dwSessionBaud = 0;
    }
    m_eStage = stage;
    m_transcript.Write(CJsonLine("stage").Text("stage", kNames[static_cast<int>(stage)]));
}

void CHandset::Fault(const CJsonLine& line)
{
    ++m_stats.nFaults;
    m_transcript.Write(line);
}

std::vector<SAnswer> CHandset::OnBytes(std::span<const uint8_t> bytes, uint32_t baud)
{
    std::vector<SAnswer> out;
    m_dwLastBaud = baud;
    while (!bytes.empty()) {
        if (m_eStage == EStage::Normal) {
            TakeNormalInput(bytes, out);
            break;
        }
        if (m_eStage == EStage::Blocks) {
            TakeBlockBytes(bytes, baud, out);
            break;
        }
        std::optional<SParsedUnit> unit;
        bytes = bytes.subspan(m_parser.Feed(bytes, unit));
        if (unit) HandleUnit(*unit, baud, out);
    }
    return out;
}

std::vector<SAnswer> CHandset::OnQuiet()
{
    std::vector<SAnswer> out;
    if (m_eStage == EStage::Blocks) {
        if (!m_vecBurst.empty()) SettleBurst(out);
    } else if (m_eStage != EStage::Normal) {
        if (auto unit = m_parser.Flush()) HandleUnit(*unit, m_dwLastBaud, out);
    }
    return out;
}

bool CHandset::HasPendingInput() const
{
    switch (m_eStage) {
    case EStage::Normal: return false;
    case EStage::Blocks: return !m_vecBurst.empty();
    default: return m_parser.HasPending();
    }
}

void CHandset::TakeNormalInput(std::span<const uint8_t> in, std::vector<SAnswer>& out)
{
    for (const uint8_t b : in) {
        if (b == '\r') {
            FinishNormalLine(out);
            continue;
        }
        m_strLine += static_cast<char>(b);
        if (m_strLine.size() >= kMaxNormalLine) FinishNormalLine(out);
    }
}

void CHandset::FinishNormalLine(std::vector<SAnswer>& out)
{
    const std::string line = std::move(m_strLine);
    m_strLine.clear();
    const auto* bytes = reinterpret_cast<const uint8_t*>(line.data());
    // Like a modem, the command starts at the last "AT" of the line.
    const std::size_t at = line.rfind("AT");
    if (at == std::string::npos || std::string_view(line).substr(at) != kModeSwitchCommand) {
        m_transcript.Write(RxLine("normal-input", m_dwLastBaud).Hex("bytes", {bytes, line.size()}));
        return;
    }
    m_transcript.Write(RxLine("at-command", m_dwLastBaud).Hex("bytes", {bytes, line.size()}));
    SAnswer answer;
    answer.optTrigger = ETrigger::At;
    answer.bModeSwitch = true;
    out.push_back(answer);
}

void CHandset::TakeBlockBytes(std::span<const uint8_t> in, uint32_t baud, std::vector<SAnswer>& out)
{
    in = in.subspan(m_parser.SkipPadding(in));
    if (in.empty()) return;
    if (m_vecBurst.empty()) m_dwBurstBaud = baud;
    m_vecBurst.insert(m_vecBurst.end(), in.begin(), in.end());
    std::size_t used = 0;
    while (m_vecBurst.size() - used >= kBlockBytes) {
        HandleBlock({m_vecBurst.data() + used, kBlockBytes}, m_dwBurstBaud, out);
        used += kBlockBytes;
        m_dwBurstBaud = baud;
    }
    m_vecBurst.erase(m_vecBurst.begin(), m_vecBurst.begin() + static_cast<std::ptrdiff_t>(used));
}

void CHandset::SettleBurst(std::vector<SAnswer>& out)
{
    const std::vector<uint8_t> burst = std::move(m_vecBurst);
    m_vecBurst.clear();
    if (burst.front() != kFlag) {
        // Too short for a block and no frame: part of a block went missing.
        m_transcript.Write(RxLine("partial-block", m_dwBurstBaud).Number("count", static_cast<int64_t>(burst.size())));
        Fault(FaultLine("partial-block").Number("count", static_cast<int64_t>(burst.size())));
        m_bLost = true;
        return;
    }
    m_parser.Reset();
    std::span<const uint8_t> rest = burst;
    while (!rest.empty()) {
        if (m_eStage == EStage::Normal) {
            TakeNormalInput(rest, out);
            return;
        }
        std::optional<SParsedUnit> unit;
        rest = rest.subspan(m_parser.Feed(rest, unit));
        if (unit) HandleUnit(*unit, m_dwBurstBaud, out);
    }
    if (m_eStage != EStage::Normal) {
        if (auto unit = m_parser.Flush()) HandleUnit(*unit, m_dwBurstBaud, out);
    }
}

bool CHandset::SpeedAccepted(uint32_t baud) const
{
    switch (m_eStage) {
    case EStage::Boot:
    case EStage::Started:
        return baud == kBootBaud;
    case EStage::Jumped:
        return baud == kBootBaud || baud == kFastBaud;
    case EStage::Loader:
    case EStage::Blocks:
        return baud == m_dwSessionBaud;
    case EStage::Normal:
        break;
    }
    return true;
}

void CHandset::WrongSpeed(std::string_view unit, uint32_t baud)
{
    CJsonLine line = FaultLine("wrong-speed");
    line.Text("unit", unit).Number("baud", baud);
    if (m_eStage == EStage::Jumped)
        line.Numbers("expected", {57600, 115200});
    else
        line.Number("expected", m_eStage == EStage::Loader || m_eStage == EStage::Blocks ? m_dwSessionBaud : kBootBaud);
    Fault(line);
}

void CHandset::HandleUnit(const SParsedUnit& unit, uint32_t baud, std::vector<SAnswer>& out)
{
    switch (unit.eKind) {
    case EUnitKind::Request:
        HandleRequest(unit, baud, out);
        return;
    case EUnitKind::Garbage:
        m_transcript.Write(RxLine("garbage", baud).Number("count", static_cast<int64_t>(unit.nWireBytes)).Hex("bytes", unit.vecWire));
        Fault(FaultLine("garbage").Number("count", static_cast<int64_t>(unit.nWireBytes)));
        return;
    case EUnitKind::BadFrame:
    case EUnitKind::Invalid:
        break;
    }
    const bool bad = unit.eKind == EUnitKind::BadFrame;
    const std::string_view name = bad ? "bad-frame" : "invalid-request";
    const std::string_view reason = FrameFaultName(unit.eFault);
    m_transcript.Write(RxLine(name, baud).Text("reason", reason).Hex("bytes", unit.vecWire));
    if (unit.eFault == EFrameFault::Incomplete) {
        // Without its closing flag the handset cannot tell a frame from noise: no answer.
        Fault(FaultLine(name).Text("reason", reason));
        return;
    }
    if (!SpeedAccepted(baud)) {
        WrongSpeed(name, baud);
        return;
    }
    Fault(FaultLine(name).Text("reason", reason));
    SAnswer answer;
    answer.optReply = bad ? kNakBadCrc : kNakInvalid;
    out.push_back(answer);
}

void CHandset::HandleRequest(const SParsedUnit& unit, uint32_t baud, std::vector<SAnswer>& out)
{
    const std::string_view name = RequestName(unit.eRequest);
    CJsonLine rx = RxLine(name, baud);
    if (unit.eRequest == ERequest::Erase) rx.Number("start", unit.dwStart).Number("length", unit.dwLength);
    m_transcript.Write(rx.Hex("bytes", unit.vecWire));

    SAnswer answer;
    answer.optTrigger = TriggerOf(unit.eRequest);
    if (!SpeedAccepted(baud)) {
        WrongSpeed(name, baud);
        out.push_back(answer);
        return;
    }
    auto outOfOrder = [&] {
        static constexpr std::string_view kStage[] = {"normal", "boot", "started", "jumped", "loader", "blocks"};
        Fault(FaultLine("invalid-request").Text("reason", "out-of-order").Text("unit", name)
                  .Text("stage", kStage[static_cast<int>(m_eStage)]));
        answer.optReply = kNakInvalid;
    };
    // Leaving the block stage needs every block of the erased range.
    auto leaveBlocks = [&](EStage next) {
        if (m_eStage == EStage::Blocks && !BlocksComplete()) {
            BlockCountFault();
            answer.optReply = kNakFailed;
            return;
        }
        answer.optReply = kAck;
        if (next != m_eStage) SetStage(next);
    };

    switch (unit.eRequest) {
    case ERequest::Start:
        switch (m_eStage) {
        case EStage::Boot:
        case EStage::Started:
            answer.optReply = kAck;
            if (m_eStage == EStage::Boot) SetStage(EStage::Started);
            break;
        case EStage::Jumped:
            m_dwSessionBaud = baud;
            m_transcript.Write(CJsonLine("speed").Number("baud", baud));
            answer.optReply = kAck;
            SetStage(EStage::Loader);
            break;
        case EStage::Loader:
        case EStage::Blocks:
            leaveBlocks(EStage::Loader);
            break;
        case EStage::Normal:
            break;
        }
        break;
    case ERequest::Jump:
        switch (m_eStage) {
        case EStage::Boot:
            outOfOrder();
            break;
        case EStage::Started:
        case EStage::Jumped:
            // A repeated jump: its reply was lost and the tool asks again.
            answer.optReply = kAck;
            if (m_eStage == EStage::Started) SetStage(EStage::Jumped);
            break;
        case EStage::Loader:
        case EStage::Blocks:
            // The final jump: the handset leaves download mode and restarts its firmware.
            leaveBlocks(EStage::Normal);
            break;
        case EStage::Normal:
            break;
        }
        break;
    case ERequest::Erase:
        if (m_eStage == EStage::Loader || m_eStage == EStage::Blocks)
            HandleErase(unit, answer);
        else
            outOfOrder();
        break;
    }
    out.push_back(answer);
}

void CHandset::HandleErase(const SParsedUnit& unit, SAnswer& answer)
{
    if (unit.dwLength == 0 || unit.dwLength % kBlockBytes != 0 || !m_flash.Contains(unit.dwStart, unit.dwLength)) {
        Fault(FaultLine("erase-range").Number("start", unit.dwStart).Number("length", unit.dwLength)
                  .Number("flash_size", static_cast<int64_t>(m_flash.Size())));
        answer.optReply = kNakFailed;
        return;
    }
    // A repeated erase before any block is the tool asking again; after some blocks it
    // throws away a range the tool never finished.
    if (m_eStage == EStage::Blocks && m_dwHigh != m_dwEraseStart && !BlocksComplete()) BlockCountFault();
    m_flash.Erase(unit.dwStart, unit.dwLength);
    m_dwEraseStart = unit.dwStart;
    m_dwEraseEnd = unit.dwStart + unit.dwLength;
    m_dwHigh = unit.dwStart;
    m_optLastData.reset();
    m_eNext = ENext::New;
    m_bLost = false;
    m_vecBurst.clear();
    if (m_eStage != EStage::Blocks) SetStage(EStage::Blocks);
    answer.optReply = kAck;
    answer.nBusyMs = m_nEraseMs;
}

void CHandset::BlockCountFault()
{
    Fault(FaultLine("block-count")
              .Number("expected", (m_dwEraseEnd - m_dwEraseStart) / kBlockBytes)
              .Number("received", (m_dwHigh - m_dwEraseStart) / kBlockBytes));
}

std::optional<uint32_t> CHandset::TargetAddress() const
{
    switch (m_eNext) {
    case ENext::New: return m_dwHigh;
    case ENext::Replace: return m_dwReplace;
    case ENext::Discard: break;
    }
    return std::nullopt;
}

void CHandset::HandleBlock(std::span<const uint8_t> block, uint32_t baud, std::vector<SAnswer>& out)
{
    const bool signature = std::equal(kRetrySignature.begin(), kRetrySignature.end(), block.begin());
    if (signature && block[7] == kRetryMarker &&
        std::all_of(block.begin() + 8, block.end(), [](uint8_t b) { return b == 0; })) {
        HandleRetryRequest(baud, out);
        return;
    }
    const uint16_t crc = static_cast<uint16_t>(kCrc16Mcrf4xx.Compute(block.data(), block.size()));
    const std::optional<uint32_t> target = TargetAddress();
    const std::string_view name = !signature ? "block" : block[7] == kSignatureMarker ? "signature-block" : "damaged-retry-request";

    SAnswer answer;
    answer.optTrigger = ETrigger::Block;
    CJsonLine rx = RxLine(name, baud);
    if (target) {
        answer.optBlockIndex = (*target - m_dwEraseStart) / kBlockBytes;
        rx.Number("index", *answer.optBlockIndex).Number("address", *target);
    } else {
        rx.Flag("discarded", true);
    }
    m_transcript.Write(rx.Number("crc", crc));

    if (!SpeedAccepted(baud)) {
        WrongSpeed(name, baud);
        m_bLost = true;
        out.push_back(answer);
        return;
    }
    if (signature && block[7] != kSignatureMarker) {
        // The tool sends the signature only in the retransmit request (byte 7 = 0x01, zeros
        // after it) or in an image block it marked with 0x02: anything else was damaged.
        Fault(FaultLine("damaged-retry-request"));
        m_bLost = true;
        answer.optReply = kNakBadCrc;
        out.push_back(answer);
        return;
    }
    if (target && *target + kBlockBytes > m_dwEraseEnd) {
        Fault(FaultLine("block-outside-erase").Number("address", *target)
                  .Number("erase_start", m_dwEraseStart).Number("erase_end", m_dwEraseEnd));
        m_bLost = true;
        answer.optReply = kNakFailed;
        out.push_back(answer);
        return;
    }
    m_bLost = false;
    if (!target) {
        // The resend of a block from before this range: acknowledged so the tool goes on,
        // but it has no place here.
        m_eNext = ENext::New;
        answer.optReply = Reply{static_cast<uint8_t>(EReply::Ack), static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF)};
        out.push_back(answer);
        return;
    }
    m_flash.Write(*target, block);
    ++m_stats.nBlocks;
    m_dwHigh = std::max(m_dwHigh, *target + static_cast<uint32_t>(kBlockBytes));
    if (signature) {
        // The tool treats this block like a retransmit request: it wants RETRY_ACK and then
        // resends the last block it tracked, which belongs where it was, not here.
        ++m_stats.nSignatureBlocks;
        m_eNext = m_optLastData ? ENext::Replace : ENext::Discard;
        if (m_optLastData) m_dwReplace = *m_optLastData;
        answer.optReply = kRetryAck;
    } else {
        m_optLastData = *target;
        m_eNext = ENext::New;
        answer.optReply = Reply{static_cast<uint8_t>(EReply::Ack), static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF)};
    }
    out.push_back(answer);
}

void CHandset::HandleRetryRequest(uint32_t baud, std::vector<SAnswer>& out)
{
    m_transcript.Write(RxLine("retry-request", baud));
    SAnswer answer;
    answer.optTrigger = ETrigger::Retry;
    if (!SpeedAccepted(baud)) {
        WrongSpeed("retry-request", baud);
        out.push_back(answer);
        return;
    }
    ++m_stats.nRetransmissions;
    // The tool resends its last tracked block next. If the last block never arrived whole,
    // that resend is the missing block and goes where the next new block would.
    if (!m_bLost) {
        m_eNext = m_optLastData ? ENext::Replace : ENext::Discard;
        if (m_optLastData) m_dwReplace = *m_optLastData;
    }
    answer.optReply = kRetryAck;
    out.push_back(answer);
}

}  // namespace kestrel::sim
