// The handset's rules on byte buffers: sequence, line speed, erase range, block placement,
// the retransmit cycle and the signature block.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "handset.h"
#include "serial/crc.h"

namespace kestrel::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using Reply = std::array<uint8_t, 3>;

constexpr uint32_t k57600 = 57600;
constexpr uint32_t k115200 = 115200;
constexpr Reply kAck00{0x02, 0x00, 0x00};
constexpr Reply kRetryAck{0x03, 0x03, 0x03};
constexpr Reply kNakBadCrc{0xA1, 0x00, 0x00};
constexpr Reply kNakInvalid{0xA3, 0x9E, 0x4C};
constexpr Reply kNakFailed{0xA4, 0x00, 0x00};

// A framed request as the tool sends it.
Bytes Frame(const Bytes& payload)
{
    Bytes body = payload;
    const uint32_t crc = kCrc16X25.Compute(payload.data(), payload.size());
    body.push_back(static_cast<uint8_t>(crc & 0xFF));
    body.push_back(static_cast<uint8_t>(crc >> 8));
    Bytes out{0x7E};
    for (const uint8_t b : body) {
        if (b >= 0x7D && b <= 0x7F) {
            out.push_back(0x7D);
            out.push_back(b ^ 0x20);
        } else {
            out.push_back(b);
        }
    }
    out.push_back(0x7E);
    while (out.size() % 4) out.push_back(0x00);
    return out;
}

Bytes Erase(uint32_t start, uint32_t length)
{
    Bytes p{0xEE};
    for (const uint32_t v : {start, length})
        for (int i = 0; i < 4; ++i) p.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return Frame(p);
}

const Bytes kStart = Frame({0xA0});
const Bytes kJump = Frame({0xC0});

Bytes PatternBlock(uint8_t seed)
{
    Bytes b(1024);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + seed);
    return b;
}

Bytes RetryRequest()
{
    Bytes b(1024, 0x00);
    const uint8_t head[] = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24, 0x01};
    std::copy(std::begin(head), std::end(head), b.begin());
    return b;
}

// An image block that begins with the signature, as the tool sends it (byte 7 set to 0x02).
Bytes SignatureBlock()
{
    Bytes b = PatternBlock(0x55);
    const uint8_t head[] = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24, 0x02};
    std::copy(std::begin(head), std::end(head), b.begin());
    return b;
}

Reply BlockAck(const Bytes& block)
{
    const auto crc = kCrc16Mcrf4xx.Compute(block.data(), block.size());
    return {0x02, static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF)};
}

class SimHandset : public ::testing::Test {
protected:
    SimHandset() : m_flash(64 * 1024), m_handset(m_flash, m_transcript, 250)
    {
        m_transcript.Attach(m_log);
        m_handset.EnterDownloadMode();
    }

    // The replies the handset gives to these bytes (silence leaves no entry).
    std::vector<Reply> Send(const Bytes& bytes, uint32_t baud = k115200)
    {
        return Replies(m_handset.OnBytes(bytes, baud));
    }
    std::vector<Reply> Quiet() { return Replies(m_handset.OnQuiet()); }
    // A request in the block stage: a short burst is judged once the line is quiet.
    std::vector<Reply> SendAndWait(const Bytes& bytes, uint32_t baud = k115200)
    {
        auto replies = Send(bytes, baud);
        const auto more = Quiet();
        replies.insert(replies.end(), more.begin(), more.end());
        return replies;
    }
    static std::vector<Reply> Replies(const std::vector<SAnswer>& answers)
    {
        std::vector<Reply> out;
        for (const auto& a : answers)
            if (a.optReply) out.push_back(*a.optReply);
        return out;
    }
    void ToLoader(uint32_t baud = k115200)
    {
        ASSERT_EQ(Send(kStart, k57600), std::vector<Reply>{kAck00});
        ASSERT_EQ(Send(kJump, k57600), std::vector<Reply>{kAck00});
        ASSERT_EQ(Send(kStart, baud), std::vector<Reply>{kAck00});
    }
    void ToBlocks(uint32_t start, uint32_t length)
    {
        ToLoader();
        ASSERT_EQ(Send(Erase(start, length)), std::vector<Reply>{kAck00});
    }
    Bytes FlashAt(uint32_t addr, std::size_t n = 1024) const
    {
        const auto bytes = m_flash.Bytes().subspan(addr, n);
        return {bytes.begin(), bytes.end()};
    }
    bool Logged(const std::string& text) const { return m_log.str().find(text) != std::string::npos; }

    std::ostringstream m_log;
    CTranscript m_transcript;
    CFlashModel m_flash;
    CHandset m_handset;
};

TEST_F(SimHandset, WholeSessionWritesTheBlocksAndLeavesDownloadMode)
{
    ToLoader();
    const auto erase = m_handset.OnBytes(Erase(0x1000, 3 * 1024), k115200);
    ASSERT_EQ(erase.size(), 1u);
    EXPECT_EQ(erase[0].nBusyMs, 250u);
    EXPECT_EQ(erase[0].optReply, kAck00);

    const Bytes zeros(1024, 0x00), ones(1024, 0xFF);
    Bytes counting(1024);
    for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<uint8_t>(i);
    // Check values worked out independently for these blocks.
    EXPECT_EQ(Send(zeros), (std::vector<Reply>{{0x02, 0xF6, 0xED}}));
    EXPECT_EQ(Send(ones), (std::vector<Reply>{{0x02, 0xD7, 0xEE}}));
    EXPECT_EQ(Send(counting), (std::vector<Reply>{{0x02, 0xF6, 0xDE}}));
    EXPECT_EQ(SendAndWait(kJump), std::vector<Reply>{kAck00});
    EXPECT_FALSE(m_handset.InDownloadMode());

    EXPECT_EQ(FlashAt(0x1000), zeros);
    EXPECT_EQ(FlashAt(0x1400), ones);
    EXPECT_EQ(FlashAt(0x1800), counting);
    EXPECT_EQ(m_flash.WrittenRanges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0x1000, 0x1C00}}));
    EXPECT_EQ(m_handset.Stats().nFaults, 0u);
}

TEST_F(SimHandset, RequestsOutOfOrderAreInvalidCommands)
{
    struct Case {
        const char* name;
        std::vector<Bytes> before;  // accepted first, at 57600
        Bytes request;
    };
    const Case cases[] = {
        {"jump before start", {}, kJump},
        {"erase before start", {}, Erase(0, 1024)},
        {"erase before the jump", {kStart}, Erase(0, 1024)},
        {"erase before the start after the jump", {kStart, kJump}, Erase(0, 1024)},
    };
    for (const auto& c : cases) {
        m_handset.EnterDownloadMode();
        for (const auto& b : c.before) ASSERT_EQ(Send(b, k57600), std::vector<Reply>{kAck00}) << c.name;
        EXPECT_EQ(Send(c.request, k57600), std::vector<Reply>{kNakInvalid}) << c.name;
    }
    EXPECT_TRUE(Logged("\"reason\":\"out-of-order\""));
}

TEST_F(SimHandset, RepeatedRequestsAreAnsweredAgain)
{
    // The tool repeats a request whose reply it missed.
    EXPECT_EQ(Send(kStart, k57600), std::vector<Reply>{kAck00});
    EXPECT_EQ(Send(kStart, k57600), std::vector<Reply>{kAck00});
    EXPECT_EQ(Send(kJump, k57600), std::vector<Reply>{kAck00});
    EXPECT_EQ(Send(kJump, k57600), std::vector<Reply>{kAck00});
    EXPECT_EQ(Send(kStart, k115200), std::vector<Reply>{kAck00});
    EXPECT_EQ(Send(kStart, k115200), std::vector<Reply>{kAck00});
    EXPECT_EQ(Send(Erase(0, 2048)), std::vector<Reply>{kAck00});
    EXPECT_EQ(SendAndWait(Erase(0, 2048)), std::vector<Reply>{kAck00});
    EXPECT_EQ(m_handset.Stats().nFaults, 0u);
}

TEST_F(SimHandset, RequestsAtTheWrongSpeedAreNotAnswered)
{
    struct Case {
        const char* name;
        int stage;  // 0: fresh, 1: after the jump, 2: speed set to 115200
        Bytes bytes;
        uint32_t baud;
    };
    const Case cases[] = {
        {"start at 115200 before the jump", 0, kStart, k115200},
        {"start at 38400 before the jump", 0, kStart, 38400},
        {"start at 9600 after the jump", 1, kStart, 9600},
        {"erase at 57600 after 115200 was set", 2, Erase(0, 1024), k57600},
        {"bad frame at the wrong speed", 2, {0x7E, 0xA0, 0x72, 0x56, 0x7E}, k57600},
    };
    for (const auto& c : cases) {
        m_handset.EnterDownloadMode();
        if (c.stage >= 1) {
            ASSERT_EQ(Send(kStart, k57600).size(), 1u);
            ASSERT_EQ(Send(kJump, k57600).size(), 1u);
        }
        if (c.stage >= 2) {
            ASSERT_EQ(Send(kStart, k115200).size(), 1u);
        }
        const auto faults = m_handset.Stats().nFaults;
        EXPECT_TRUE(Send(c.bytes, c.baud).empty()) << c.name;
        EXPECT_EQ(m_handset.Stats().nFaults, faults + 1) << c.name;
    }
    EXPECT_TRUE(Logged("\"kind\":\"wrong-speed\""));
}

TEST_F(SimHandset, BlocksAtTheWrongSpeedAreNotWritten)
{
    ToBlocks(0, 2048);
    EXPECT_TRUE(Send(PatternBlock(1), k57600).empty());
    EXPECT_EQ(FlashAt(0), Bytes(1024, 0xFF));
    // The block never arrived: the retransmit cycle puts the resend where it belongs.
    EXPECT_EQ(Send(RetryRequest()), std::vector<Reply>{kRetryAck});
    EXPECT_EQ(Send(PatternBlock(1)), std::vector<Reply>{BlockAck(PatternBlock(1))});
    EXPECT_EQ(FlashAt(0), PatternBlock(1));
}

TEST_F(SimHandset, DamagedFramesAndStrayBytes)
{
    ToLoader();
    EXPECT_EQ(Send({0x7E, 0xA0, 0x72, 0x56, 0x7E}), std::vector<Reply>{kNakBadCrc});
    EXPECT_EQ(Send({0x7E, 0x61, 0x62, 0x63, 0x25, 0x9E, 0x7E, 0x00}), std::vector<Reply>{kNakInvalid});
    // Noise and a frame that never closes get no answer once the line is quiet.
    EXPECT_TRUE(Send({0x13, 0x37}).empty());
    EXPECT_TRUE(m_handset.HasPendingInput());
    EXPECT_TRUE(Quiet().empty());
    EXPECT_TRUE(Send({0x7E, 0xA0}).empty());
    EXPECT_TRUE(Quiet().empty());
    EXPECT_FALSE(m_handset.HasPendingInput());
    // And the next request is understood.
    EXPECT_EQ(Send(kStart), std::vector<Reply>{kAck00});
    EXPECT_EQ(m_handset.Stats().nFaults, 4u);
}

TEST_F(SimHandset, EraseOutsideTheFlashOrNotInWholeBlocksFails)
{
    ToLoader();
    const std::pair<uint32_t, uint32_t> bad[] = {
        {0, 0}, {0, 1000}, {0, 1025}, {60 * 1024, 8 * 1024}, {0xFFFFFC00u, 0x800}, {0, 0xFFFFFC00u},
    };
    m_flash.Write(0, PatternBlock(3));
    for (const auto& [start, length] : bad)
        EXPECT_EQ(Send(Erase(start, length)), std::vector<Reply>{kNakFailed}) << start << "+" << length;
    EXPECT_EQ(FlashAt(0), PatternBlock(3));
    // Still in the loader: a good erase is accepted.
    EXPECT_EQ(Send(Erase(60 * 1024, 4 * 1024)), std::vector<Reply>{kAck00});
}

TEST_F(SimHandset, BlockBeyondTheErasedRangeFails)
{
    ToBlocks(0x2000, 1024);
    EXPECT_EQ(Send(PatternBlock(1)), std::vector<Reply>{BlockAck(PatternBlock(1))});
    EXPECT_EQ(Send(PatternBlock(2)), std::vector<Reply>{kNakFailed});
    EXPECT_EQ(FlashAt(0x2400), Bytes(1024, 0xFF));
    EXPECT_TRUE(Logged("\"kind\":\"block-outside-erase\""));
}

TEST_F(SimHandset, LeavingBeforeEveryBlockArrivedFails)
{
    ToBlocks(0, 2048);
    EXPECT_EQ(Send(PatternBlock(1)).size(), 1u);
    EXPECT_EQ(SendAndWait(kJump), std::vector<Reply>{kNakFailed});
    EXPECT_EQ(SendAndWait(kStart), std::vector<Reply>{kNakFailed});
    EXPECT_TRUE(Logged("\"kind\":\"block-count\",\"expected\":2,\"received\":1"));
    // The missing block can still come, and then the jump is taken.
    EXPECT_EQ(Send(PatternBlock(2)).size(), 1u);
    EXPECT_EQ(SendAndWait(kJump), std::vector<Reply>{kAck00});
    EXPECT_FALSE(m_handset.InDownloadMode());
}

TEST_F(SimHandset, ErasingAgainAfterSomeBlocksIsRecorded)
{
    ToBlocks(0, 2048);
    EXPECT_EQ(Send(PatternBlock(1)).size(), 1u);
    EXPECT_EQ(SendAndWait(Erase(0, 2048)), std::vector<Reply>{kAck00});
    EXPECT_TRUE(Logged("\"kind\":\"block-count\""));
    EXPECT_EQ(FlashAt(0), Bytes(1024, 0xFF));
}

TEST_F(SimHandset, RangesOneAfterAnotherWithAStartBetween)
{
    ToBlocks(0, 1024);
    EXPECT_EQ(Send(PatternBlock(1)).size(), 1u);
    EXPECT_EQ(SendAndWait(kStart), std::vector<Reply>{kAck00});
    EXPECT_EQ(Send(Erase(0x8000, 1024)), std::vector<Reply>{kAck00});
    EXPECT_EQ(Send(PatternBlock(2)).size(), 1u);
    EXPECT_EQ(SendAndWait(kJump), std::vector<Reply>{kAck00});
    EXPECT_EQ(FlashAt(0), PatternBlock(1));
    EXPECT_EQ(FlashAt(0x8000), PatternBlock(2));
    EXPECT_EQ(m_flash.WrittenRanges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0x400}, {0x8000, 0x8400}}));
}

TEST_F(SimHandset, RetransmitCycleRewritesTheLastBlockInPlace)
{
    ToBlocks(0, 3 * 1024);
    EXPECT_EQ(Send(PatternBlock(1)).size(), 1u);
    EXPECT_EQ(Send(PatternBlock(2)).size(), 1u);
    // The tool did not like the reply to block 1: retransmit request, then block 1 again.
    EXPECT_EQ(Send(RetryRequest()), std::vector<Reply>{kRetryAck});
    EXPECT_EQ(Send(RetryRequest()), std::vector<Reply>{kRetryAck});
    EXPECT_EQ(Send(PatternBlock(2)), std::vector<Reply>{BlockAck(PatternBlock(2))});
    EXPECT_EQ(Send(PatternBlock(3)), std::vector<Reply>{BlockAck(PatternBlock(3))});
    EXPECT_EQ(FlashAt(0), PatternBlock(1));
    EXPECT_EQ(FlashAt(1024), PatternBlock(2));
    EXPECT_EQ(FlashAt(2048), PatternBlock(3));
    EXPECT_EQ(m_handset.Stats().nRetransmissions, 2u);
    EXPECT_EQ(SendAndWait(kJump), std::vector<Reply>{kAck00});
}

TEST_F(SimHandset, PartOfABlockIsDroppedAndItsResendTakesItsPlace)
{
    ToBlocks(0, 2 * 1024);
    EXPECT_EQ(Send(PatternBlock(1)).size(), 1u);
    const Bytes block = PatternBlock(2);
    EXPECT_TRUE(Send({block.begin(), block.begin() + 500}).empty());
    EXPECT_TRUE(Quiet().empty());
    EXPECT_TRUE(Logged("\"kind\":\"partial-block\",\"count\":500"));
    EXPECT_EQ(Send(RetryRequest()), std::vector<Reply>{kRetryAck});
    EXPECT_EQ(Send(block), std::vector<Reply>{BlockAck(block)});
    EXPECT_EQ(FlashAt(0), PatternBlock(1));
    EXPECT_EQ(FlashAt(1024), block);
}

TEST_F(SimHandset, SignatureBlockIsStoredAsReceivedAndTheResendGoesBack)
{
    ToBlocks(0, 3 * 1024);
    EXPECT_EQ(Send(PatternBlock(1)).size(), 1u);
    // The tool wants RETRY_ACK here and then resends the block before the signature block.
    EXPECT_EQ(Send(SignatureBlock()), std::vector<Reply>{kRetryAck});
    EXPECT_EQ(Send(PatternBlock(1)), std::vector<Reply>{BlockAck(PatternBlock(1))});
    EXPECT_EQ(Send(PatternBlock(3)), std::vector<Reply>{BlockAck(PatternBlock(3))});
    EXPECT_EQ(SendAndWait(kJump), std::vector<Reply>{kAck00});
    EXPECT_EQ(FlashAt(0), PatternBlock(1));
    EXPECT_EQ(FlashAt(1024), SignatureBlock());
    EXPECT_EQ(FlashAt(2048), PatternBlock(3));
    EXPECT_EQ(m_handset.Stats().nSignatureBlocks, 1u);
}

TEST_F(SimHandset, ResendAfterASignatureBlockThatOpensTheRangeIsNotWritten)
{
    ToBlocks(0x4000, 2 * 1024);
    EXPECT_EQ(Send(SignatureBlock()), std::vector<Reply>{kRetryAck});
    // The tool resends a block from before this range: acknowledged, but stored nowhere.
    const Bytes stale = PatternBlock(9);
    EXPECT_EQ(Send(stale), std::vector<Reply>{BlockAck(stale)});
    EXPECT_EQ(Send(PatternBlock(2)).size(), 1u);
    EXPECT_EQ(FlashAt(0x4000), SignatureBlock());
    EXPECT_EQ(FlashAt(0x4400), PatternBlock(2));
    EXPECT_EQ(SendAndWait(kJump), std::vector<Reply>{kAck00});
}

TEST_F(SimHandset, SignatureWithAnyOtherMarkIsADamagedRetransmitRequest)
{
    ToBlocks(0, 2048);
    Bytes dirtyTail = RetryRequest();
    dirtyTail[100] = 0x01;
    Bytes otherMark = RetryRequest();
    otherMark[7] = 0x05;
    EXPECT_EQ(Send(dirtyTail), std::vector<Reply>{kNakBadCrc});
    EXPECT_EQ(Send(otherMark), std::vector<Reply>{kNakBadCrc});
    EXPECT_EQ(m_flash.WrittenBytes(), 0u);
}

TEST_F(SimHandset, InTheBlockStageOnlyAShortBurstIsARequest)
{
    ToBlocks(0, 2 * 1024);
    // A block that happens to begin with a whole start request is still a block.
    Bytes block = PatternBlock(4);
    std::copy(kStart.begin(), kStart.end(), block.begin());
    EXPECT_EQ(Send(block), std::vector<Reply>{BlockAck(block)});
    // A short burst waits for the quiet line before it is read as a request.
    EXPECT_TRUE(Send(kStart).empty());
    EXPECT_TRUE(m_handset.HasPendingInput());
    EXPECT_EQ(Quiet(), std::vector<Reply>{kNakFailed});
    // A block and what follows it in one read: the block, then the rest on its own.
    Bytes both = PatternBlock(5);
    both.insert(both.end(), kJump.begin(), kJump.end());
    EXPECT_EQ(Send(both), std::vector<Reply>{BlockAck(PatternBlock(5))});
    EXPECT_EQ(Quiet(), std::vector<Reply>{kAck00});
    EXPECT_EQ(FlashAt(0), block);
    EXPECT_EQ(FlashAt(1024), PatternBlock(5));
}

TEST_F(SimHandset, BlockRightAfterTheEraseInOneReadSkipsThePadding)
{
    ToLoader();
    const Bytes block = PatternBlock(6);
    Bytes both = Erase(0, 1024);
    ASSERT_EQ(both.back(), 0x00);
    both.insert(both.end(), block.begin(), block.end());
    EXPECT_EQ(Send(both), (std::vector<Reply>{kAck00, BlockAck(block)}));
    EXPECT_EQ(FlashAt(0), block);
}

TEST_F(SimHandset, NormalModeWaitsForTheModeSwitchCommand)
{
    m_handset.EnterNormalMode();
    auto at = [&](const std::string& text) {
        std::vector<SAnswer> answers;
        for (const char ch : text) {  // the tool writes it byte by byte
            auto more = m_handset.OnBytes({reinterpret_cast<const uint8_t*>(&ch), 1}, 38400);
            answers.insert(answers.end(), more.begin(), more.end());
        }
        return answers;
    };
    EXPECT_TRUE(at("AT+CGMI\r").empty());
    EXPECT_TRUE(Send(kStart, k57600).empty());
    EXPECT_TRUE(at("AT$ZQKVM\r").empty());
    EXPECT_TRUE(at("at$zqkvmw\r").empty());
    EXPECT_FALSE(m_handset.HasPendingInput());
    const auto answers = at("\x01\x02" "AT$ZQKVMW\r");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_TRUE(answers[0].bModeSwitch);
    EXPECT_FALSE(answers[0].optReply);
    EXPECT_FALSE(m_handset.InDownloadMode());  // the simulator switches when the time has come
}

TEST(SimFlashModel, KeepsTrackOfWrittenRanges)
{
    CFlashModel flash(16 * 1024);
    const Bytes block(1024, 0x5A);
    flash.Write(0x800, block);
    flash.Write(0x000, block);
    flash.Write(0x400, block);  // touches both neighbours: one range
    EXPECT_EQ(flash.WrittenRanges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0xC00}}));
    flash.Erase(0x400, 0x400);
    EXPECT_EQ(flash.WrittenRanges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0x400}, {0x800, 0xC00}}));
    EXPECT_EQ(flash.WrittenBytes(), 0x800u);
    EXPECT_EQ(flash.End(), 0xC00u);
    EXPECT_EQ(flash.Bytes()[0x400], 0xFF);
    flash.Erase(0x200, 0x800);  // cuts into both ranges
    EXPECT_EQ(flash.WrittenRanges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0x200}, {0xA00, 0xC00}}));
    flash.Erase(0, 0x4000);
    EXPECT_EQ(flash.End(), 0u);
    EXPECT_TRUE(flash.Contains(0, 16 * 1024));
    EXPECT_FALSE(flash.Contains(1, 16 * 1024));
    EXPECT_FALSE(flash.Contains(0xFFFFFFFFull, 2));
}

}  // namespace
}  // namespace kestrel::sim
