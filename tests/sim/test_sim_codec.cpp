// The simulator's request parser, reply builder and transcript lines on byte buffers. Wire
// bytes are written out literally, so the format is pinned independently of any encoder in
// the project.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "reply_builder.h"
#include "request_parser.h"
#include "transcript.h"

namespace kestrel::sim {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kStart{0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00};
const Bytes kJump{0x7E, 0xC0, 0x74, 0x36, 0x7E, 0x00, 0x00, 0x00};

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// One unit as text: "START_REQ", "ERASE_REQ 10000+20000", "bad:bad-crc", "invalid:unknown-code", "garbage:3".
std::string Describe(const SParsedUnit& u)
{
    char buf[64];
    switch (u.eKind) {
    case EUnitKind::Request:
        if (u.eRequest != ERequest::Erase) return std::string(RequestName(u.eRequest));
        std::snprintf(buf, sizeof buf, "ERASE_REQ %x+%x", u.dwStart, u.dwLength);
        return buf;
    case EUnitKind::Invalid: return "invalid:" + std::string(FrameFaultName(u.eFault));
    case EUnitKind::BadFrame: return "bad:" + std::string(FrameFaultName(u.eFault));
    case EUnitKind::Garbage: return "garbage:" + std::to_string(u.nWireBytes);
    }
    return "?";
}

std::vector<std::string> ParseAll(const std::vector<Bytes>& chunks, bool flush)
{
    CRequestParser parser;
    std::vector<std::string> out;
    for (const Bytes& chunk : chunks) {
        std::span<const uint8_t> rest = chunk;
        while (!rest.empty()) {
            std::optional<SParsedUnit> unit;
            const std::size_t used = parser.Feed(rest, unit);
            EXPECT_GT(used, 0u);
            rest = rest.subspan(used);
            if (unit) out.push_back(Describe(*unit));
        }
    }
    if (flush)
        if (auto unit = parser.Flush()) out.push_back(Describe(*unit));
    EXPECT_FALSE(parser.HasPending());
    return out;
}

struct ParseCase {
    const char* name;
    std::vector<Bytes> chunks;
    std::vector<std::string> expected;
};

TEST(SimRequestParser, SplitsTheLineIntoUnits)
{
    const ParseCase cases[] = {
        {"start request", {kStart}, {"START_REQ"}},
        {"jump request", {kJump}, {"JUMP_REQ"}},
        {"erase request", {{0x7E, 0xEE, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x24, 0x88, 0x7E, 0, 0, 0}}, {"ERASE_REQ 10000+20000"}},
        {"erase with an escaped check byte", {{0x7E, 0xEE, 0, 0, 0, 0, 0, 0x08, 0, 0, 0x7D, 0x5D, 0x79, 0x7E, 0, 0}}, {"ERASE_REQ 0+800"}},
        {"escaped payload byte that is no request", {{0x7E, 0x7D, 0x5E, 0x01, 0x1A, 0x74, 0x7E, 0x00}}, {"invalid:unknown-code"}},
        {"abc is no request", {{0x7E, 0x61, 0x62, 0x63, 0x25, 0x9E, 0x7E, 0x00}}, {"invalid:unknown-code"}},
        {"start request with a payload byte too many", {{0x7E, 0xA0, 0x00, 0xB8, 0xA0, 0x7E, 0x00, 0x00}}, {"invalid:wrong-length"}},
        {"check value off by one", {{0x7E, 0xA0, 0x72, 0x56, 0x7E}}, {"bad:bad-crc"}},
        {"check value bytes swapped", {{0x7E, 0xA0, 0x55, 0x72, 0x7E}}, {"bad:bad-crc"}},
        {"two content bytes", {{0x7E, 0xA0, 0x72, 0x7E}}, {"bad:too-short"}},
        {"escape before the closing flag", {{0x7E, 0xA0, 0x72, 0x55, 0x7D, 0x7E}}, {"bad:bad-escape"}},
        {"escape of a byte that is never escaped", {{0x7E, 0x7D, 0x41, 0x72, 0x55, 0x7E}}, {"bad:bad-escape"}},
        {"unescaped 0x7F inside", {{0x7E, 0xA0, 0x7F, 0x72, 0x55, 0x7E}}, {"bad:stray-byte"}},
        {"stray bytes before a frame", {Cat({{0x11, 0x22}, kStart})}, {"garbage:2", "START_REQ"}},
        {"two frames in one read", {Cat({kStart, kJump})}, {"START_REQ", "JUMP_REQ"}},
        {"a zero past the padding", {Cat({kStart, {0x00}})}, {"START_REQ", "garbage:1"}},
        {"a lone flag before a frame", {{0x7E, 0x7E, 0xA0, 0x72, 0x55, 0x7E}}, {"garbage:1", "START_REQ"}},
        {"frame split over reads", {{0x7E}, {0xA0, 0x72}, {0x55}, {0x7E, 0x00, 0x00, 0x00}}, {"START_REQ"}},
        {"padding in a later read", {{0x7E, 0xA0, 0x72, 0x55, 0x7E}, {0x00, 0x00, 0x00}, kJump}, {"START_REQ", "JUMP_REQ"}},
        {"frame that never closes", {{0x7E, 0xA0, 0x72}}, {"bad:incomplete"}},
        {"a flag alone", {{0x7E}}, {"garbage:1"}},
        {"AT command in download mode", {{'A', 'T', '$', 'Z', 'Q', 'K', 'V', 'M', 'W', '\r'}}, {"garbage:10"}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseAll(c.chunks, true), c.expected) << c.name;
}

TEST(SimRequestParser, TooLongAFrameIsStrayBytesAndTheNextFrameStillParses)
{
    Bytes overlong{0x7E};
    overlong.insert(overlong.end(), CRequestParser::kMaxFrameBytes + 10, 0x11);
    const auto units = ParseAll({Cat({overlong, kStart})}, true);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0], "garbage:" + std::to_string(overlong.size()));
    EXPECT_EQ(units[1], "START_REQ");
}

TEST(SimRequestParser, SkipPaddingTakesOnlyTheZerosOwedToTheLastFrame)
{
    CRequestParser parser;
    std::optional<SParsedUnit> unit;
    const Bytes frame{0x7E, 0xA0, 0x72, 0x55, 0x7E};
    ASSERT_EQ(parser.Feed(frame, unit), frame.size());
    ASSERT_TRUE(unit);
    const Bytes rest{0x00, 0x00, 0x00, 0x00, 0x7E};
    EXPECT_EQ(parser.SkipPadding(rest), 3u);
    EXPECT_EQ(parser.SkipPadding(rest), 0u);
}

TEST(SimRequestParser, KeepsOnlyTheFirstStrayBytesButCountsAll)
{
    CRequestParser parser;
    const Bytes noise(1000, 0x55);
    std::optional<SParsedUnit> unit;
    EXPECT_EQ(parser.Feed(noise, unit), noise.size());
    EXPECT_FALSE(unit);
    const auto flushed = parser.Flush();
    ASSERT_TRUE(flushed);
    EXPECT_EQ(flushed->nWireBytes, 1000u);
    EXPECT_EQ(flushed->vecWire.size(), CRequestParser::kMaxKeptBytes);
}

TEST(SimReplyBuilder, FramesTheRepliesOfTheProtocol)
{
    struct Case {
        uint8_t code, p1, p2;
        Bytes wire;
    };
    const Case cases[] = {
        {0x02, 0x00, 0x00, {0x7E, 0x02, 0x00, 0x00, 0x74, 0x73, 0x7E}},
        {0x02, 0xC8, 0x39, {0x7E, 0x02, 0xC8, 0x39, 0x5C, 0xDB, 0x7E}},
        {0x03, 0x03, 0x03, {0x7E, 0x03, 0x03, 0x03, 0x5B, 0x31, 0x7E}},
        {0xA3, 0x9E, 0x4C, {0x7E, 0xA3, 0x9E, 0x4C, 0x5A, 0x2D, 0x7E}},
        {0xA4, 0x00, 0x00, {0x7E, 0xA4, 0x00, 0x00, 0x7A, 0xAA, 0x7E}},
        // The low check byte is 0x7E and travels escaped.
        {0x02, 0x3B, 0x00, {0x7E, 0x02, 0x3B, 0x00, 0x7D, 0x5E, 0x21, 0x7E}},
    };
    for (const auto& c : cases) {
        const ReplyContent content = MakeReplyContent(c.code, c.p1, c.p2);
        EXPECT_EQ(FrameReply(content), c.wire) << std::hex << int(c.code) << ' ' << int(c.p1);
    }
}

TEST(SimReplyBuilder, EscapesEachByteOfTheEscapeSetAndNothingElse)
{
    const Bytes content{0x7D, 0x7E, 0x7F, 0x7C, 0x80, 0x5E};
    EXPECT_EQ(FrameReply(content), (Bytes{0x7E, 0x7D, 0x5D, 0x7D, 0x5E, 0x7D, 0x5F, 0x7C, 0x80, 0x5E, 0x7E}));
}

TEST(SimReplyBuilder, DamageKeepsTheOriginalCheckValue)
{
    const ReplyContent good = MakeReplyContent(0x02, 0x12, 0x34);
    const ReplyContent damaged = DamageReply(good, 0x05, 0x12, 0x35);
    EXPECT_EQ(damaged[0], 0x05);
    EXPECT_EQ(damaged[2], 0x35);
    EXPECT_EQ(damaged[3], good[3]);
    EXPECT_EQ(damaged[4], good[4]);
    EXPECT_NE(MakeReplyContent(0x05, 0x12, 0x35), damaged);
}

TEST(SimTranscript, TextKeepsItsUtf8AndOnlyControlsAreEscaped)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/tmp/handset", "\"/tmp/handset\""},
        {"a\"b\\c", R"("a\"b\\c")"},
        {"\nline\r\t", R"("\nline\r\t")"},
        {std::string("\x01\x1F", 2), R"("\u0001\u001f")"},
        {"/tmp/단말기/é€𝄞", "\"/tmp/단말기/é€𝄞\""},
        {"\xFF\xC3", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},           // a stray byte, a cut-off character
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},           // an overlong '/'
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
        {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // above U+10FFFF
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(CJsonLine("e").Text("x", in).Finish(), "{\"event\":\"e\",\"x\":" + out + "}");
}

TEST(SimTranscript, StampsEachLineWithTheClockItIsGiven)
{
    std::ostringstream out;
    CTranscript transcript;
    transcript.Attach(out);
    double now = 1234.5;
    transcript.SetClock([&now] { return now; });
    transcript.Write(CJsonLine("stage").Text("stage", "boot"));
    now = 90000;
    transcript.Write(CJsonLine("unplug"));
    EXPECT_EQ(out.str(), "{\"t\":1234.5,\"event\":\"stage\",\"stage\":\"boot\"}\n{\"t\":90000.0,\"event\":\"unplug\"}\n");
}

}  // namespace
}  // namespace kestrel::sim
