#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "serial/crc.h"

namespace kestrel {
namespace {

const uint8_t* Bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

struct CheckCase {
    const char* name;
    const CCrcModel* model;
    uint32_t check;  // published value over "123456789"
};

const CheckCase kModels[] = {
    {"CRC-16/X.25", &kCrc16X25, 0x906E},
    {"CRC-16/MCRF4XX", &kCrc16Mcrf4xx, 0x6F91},
    {"CRC-30/CDMA", &kCrc30Cdma, 0x04C34ABF},
};

TEST(Crc, PublishedCheckValues)
{
    for (const auto& c : kModels) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.model->Compute(Bytes("123456789"), 9), c.check);
    }
}

TEST(Crc, Crc30OverAbcMatchesTheDmTrailerExample)
{
    EXPECT_EQ(kCrc30Cdma.Compute(Bytes("abc"), 3), 0x18462CACu);
}

TEST(Crc, IncrementalUpdateEqualsOneShot)
{
    const auto* d = Bytes("123456789");
    uint32_t crc = kCrc30Cdma.Begin();
    crc = kCrc30Cdma.Update(crc, d, 4);
    crc = kCrc30Cdma.Update(crc, d + 4, 5);
    EXPECT_EQ(kCrc30Cdma.Finish(crc), 0x04C34ABFu);
}

TEST(Crc, Crc16WithItsCheckAppendedLeavesTheResidue)
{
    // The check travels low byte first; over message and check together a reflected CRC-16
    // ends on a fixed residue whatever the message, which a wrong reflection or byte order
    // does not. X.25's published residue 0xF0B8 is taken before its final inversion.
    struct ResidueCase {
        const char* name;
        const CCrcModel* model;
        uint32_t residue;
    };
    const ResidueCase cases[] = {
        {"CRC-16/X.25", &kCrc16X25, 0xF0B8 ^ 0xFFFF},
        {"CRC-16/MCRF4XX", &kCrc16Mcrf4xx, 0x0000},
    };
    const std::string_view messages[] = {"", "123456789", std::string_view("\x7E\x7D\x00\xFF\x20", 5)};
    for (const auto& c : cases) {
        for (std::string_view m : messages) {
            SCOPED_TRACE(std::string(c.name) + " over " + std::to_string(m.size()) + " bytes");
            const uint32_t check = c.model->Compute(Bytes(m), m.size());
            std::string codeword(m);
            codeword += static_cast<char>(check & 0xFF);
            codeword += static_cast<char>(check >> 8);
            EXPECT_EQ(c.model->Compute(Bytes(codeword), codeword.size()), c.residue);
        }
    }
}

TEST(Crc, EverySingleBitErrorChangesTheCheck)
{
    const std::string message = "123456789";
    for (const auto& c : kModels) {
        for (std::size_t bit = 0; bit < message.size() * 8; ++bit) {
            SCOPED_TRACE(std::string(c.name) + ", bit " + std::to_string(bit));
            std::string damaged = message;
            damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
            EXPECT_NE(c.model->Compute(Bytes(damaged), damaged.size()), c.check);
        }
    }
}

}  // namespace
}  // namespace kestrel
