#include <gtest/gtest.h>

#include <vector>

#include "serial/crc.h"
#include "serial/frame_codec.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const Bytes& payload, Framing framing)
{
    std::array<uint8_t, kFrameBufferSize> out{};
    const std::size_t n = EncodeFrame(payload, framing, out);
    return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(FrameEncoder, WorkedExamples)
{
    struct Case {
        Bytes payload;
        Framing framing;
        Bytes frame;
    } cases[] = {
        {{0x61, 0x62, 0x63}, Framing::Download, {0x7E, 0x61, 0x62, 0x63, 0x25, 0x9E, 0x7E, 0x00}},
        {{0x61, 0x62, 0x63}, Framing::Dm, {0x7F, 0x61, 0x62, 0x63, 0x25, 0x9E, 0x7E, 0x00}},
        {{0x7E, 0x01}, Framing::Download, {0x7E, 0x7D, 0x5E, 0x01, 0x1A, 0x74, 0x7E, 0x00}},
        {{0xA0}, Framing::Download, {0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00}},
        {{}, Framing::Download, {0x7E, 0x00, 0x00, 0x7E}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.payload));
        EXPECT_EQ(Encode(c.payload, c.framing), c.frame);
    }
}

TEST(FrameEncoder, EscapesEveryByteOfTheEscapeSetInPayloadAndCheck)
{
    const Bytes frame = Encode({0x7D, 0x7E, 0x7F, 0x7C, 0x80}, Framing::Download);
    const Bytes expectedStart = {0x7E, 0x7D, 0x5D, 0x7D, 0x5E, 0x7D, 0x5F, 0x7C, 0x80};
    ASSERT_GE(frame.size(), expectedStart.size());
    EXPECT_TRUE(std::equal(expectedStart.begin(), expectedStart.end(), frame.begin()));
    EXPECT_EQ(frame.size() % 4, 0u);

    // Find a payload whose check value has a byte in the escape set and see it escaped.
    for (uint8_t b = 0; b < 255; ++b) {
        const uint16_t crc = static_cast<uint16_t>(kCrc16X25.Compute(&b, 1));
        const auto lo = static_cast<uint8_t>(crc & 0xFF);
        if (lo < 0x7D || lo > 0x7F || b >= 0x7D) continue;
        const Bytes f = Encode({b}, Framing::Download);
        EXPECT_EQ(f[2], 0x7D);
        EXPECT_EQ(f[3], lo ^ 0x20);
        return;
    }
    FAIL() << "no single-byte payload with an escaped check byte";
}

TEST(FrameEncoder, RefusesPayloadsTheBufferCannotHold)
{
    const Bytes fits(kMaxFramePayload, 0x7E);  // worst case: everything escaped
    EXPECT_FALSE(Encode(fits, Framing::Download).empty());
    EXPECT_LE(Encode(fits, Framing::Download).size(), kFrameBufferSize);
    EXPECT_TRUE(Encode(Bytes(kMaxFramePayload + 1, 0x00), Framing::Download).empty());
}

struct DeframeCase {
    const char* name;
    std::vector<Bytes> chunks;  // fed in order within one burst
    Framing framing;
    DeframeStatus last;
    Bytes content;  // when last is Good
};

TEST(Deframer, Cases)
{
    Bytes tooLong = {0x7E};
    tooLong.insert(tooLong.end(), kRxPacketSize + 1, 0x41);
    tooLong.push_back(0x7E);
    Bytes justFits = {0x7E};
    justFits.insert(justFits.end(), kRxPacketSize, 0x41);
    justFits.push_back(0x7E);

    const DeframeCase cases[] = {
        {"reply", {{0x7E, 0x02, 0x12, 0x34, 0x7E}}, Framing::Download, DeframeStatus::Good, {0x02, 0x12, 0x34}},
        {"escaped content", {{0x7E, 0x02, 0x7D, 0x5E, 0x7D, 0x5D, 0x7E}}, Framing::Download, DeframeStatus::Good,
         {0x02, 0x7E, 0x7D}},
        {"empty frame", {{0x7E, 0x7E}}, Framing::Download, DeframeStatus::Bad, {}},
        {"two bytes after unstuffing", {{0x7E, 0x02, 0x7D, 0x5E, 0x7E}}, Framing::Download, DeframeStatus::Bad, {}},
        {"dangling escape", {{0x7E, 0x02, 0x12, 0x34, 0x7D, 0x7E}}, Framing::Download, DeframeStatus::Bad, {}},
        {"split within a burst", {{0x7E, 0x02, 0x12}, {0x34, 0x7E}}, Framing::Download, DeframeStatus::Good,
         {0x02, 0x12, 0x34}},
        {"two frames run together", {{0x7E, 0x02, 0x7E, 0x7E, 0x03, 0x04, 0x7E}}, Framing::Download,
         DeframeStatus::Good, {0x02, 0x03, 0x04}},
        {"chunk not ending in a flag", {{0x7E, 0x02, 0x12, 0x34, 0x7E, 0x7E, 0x05}}, Framing::Download,
         DeframeStatus::NeedMore, {}},
        {"garbage before the flag", {{0x55, 0x7E, 0x02, 0x12, 0x34, 0x7E}}, Framing::Download,
         DeframeStatus::NeedMore, {}},
        {"unescaped 0x7F removed", {{0x7E, 0x02, 0x7F, 0x12, 0x34, 0x7E}}, Framing::Download, DeframeStatus::Good,
         {0x02, 0x12, 0x34}},
        {"content fills the packet buffer", {justFits}, Framing::Download, DeframeStatus::Good,
         Bytes(kRxPacketSize, 0x41)},
        {"content longer than the packet buffer", {tooLong}, Framing::Download, DeframeStatus::Bad, {}},
        {"DM trailer good", {{0x7E, 0x61, 0x62, 0x63, 0x18, 0x46, 0x2C, 0xAC, 0x7E}}, Framing::Dm,
         DeframeStatus::Good, {0x61, 0x62, 0x63, 0x18, 0x46, 0x2C, 0xAC}},
        {"DM trailer damaged", {{0x7E, 0x61, 0x62, 0x63, 0x18, 0x46, 0x2C, 0xAD, 0x7E}}, Framing::Dm,
         DeframeStatus::Bad, {}},
        {"DM content damaged", {{0x7E, 0x61, 0x62, 0x64, 0x18, 0x46, 0x2C, 0xAC, 0x7E}}, Framing::Dm,
         DeframeStatus::Bad, {}},
        {"DM too short", {{0x7E, 0x61, 0x62, 0x63, 0x7E}}, Framing::Dm, DeframeStatus::Bad, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CDeframer d;
        DeframeStatus status = DeframeStatus::NeedMore;
        for (const auto& chunk : c.chunks) status = d.Feed(chunk, c.framing);
        ASSERT_EQ(status, c.last);
        if (status == DeframeStatus::Good) {
            EXPECT_EQ(Bytes(d.Packet().bytes.begin(), d.Packet().bytes.begin() + static_cast<std::ptrdiff_t>(d.Packet().length)),
                      c.content);
        }
    }
}

TEST(Deframer, OverflowDropsWhatWasCollectedAndStartsAfresh)
{
    CDeframer d;
    Bytes noise(kAccumulatorSize, 0x41);
    noise[0] = 0x7E;
    EXPECT_EQ(d.Feed(noise, Framing::Download), DeframeStatus::NeedMore);
    // The 513th byte overflows: it and everything before it are gone.
    EXPECT_EQ(d.Feed(Bytes{0x7E}, Framing::Download), DeframeStatus::Overflow);
    EXPECT_EQ(d.Feed(Bytes{0x02, 0x12, 0x34, 0x7E}, Framing::Download), DeframeStatus::NeedMore);
    d.Reset();
    EXPECT_EQ(d.Feed(Bytes{0x7E, 0x02, 0x12, 0x34, 0x7E}, Framing::Download), DeframeStatus::Good);
}

TEST(Deframer, CompleteFrameEmptiesTheAccumulator)
{
    CDeframer d;
    ASSERT_EQ(d.Feed(Bytes{0x7E, 0x02, 0x12, 0x34, 0x7E}, Framing::Download), DeframeStatus::Good);
    EXPECT_EQ(d.Feed(Bytes{0x7E, 0x03, 0x03, 0x03, 0x7E}, Framing::Download), DeframeStatus::Good);
    EXPECT_EQ(d.Packet().bytes[0], 0x03);
}

}  // namespace
}  // namespace kestrel
