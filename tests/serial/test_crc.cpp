#include <gtest/gtest.h>

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

TEST(Crc, PublishedCheckValues)
{
    const CheckCase cases[] = {
        {"CRC-16/X.25", &kCrc16X25, 0x906E},
        {"CRC-16/MCRF4XX", &kCrc16Mcrf4xx, 0x6F91},
        {"CRC-30/CDMA", &kCrc30Cdma, 0x04C34ABF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.model->Compute(Bytes("123456789"), 9), c.check);
    }
}

TEST(Crc, TableEntriesAsTheHandsetExpects)
{
    EXPECT_EQ(kCrc16X25.TableEntry(1), 0x1189u);
    EXPECT_EQ(kCrc16X25.TableEntry(128), 0x8408u);
    EXPECT_EQ(kCrc30Cdma.TableEntry(1), 0x2030B9C7u);
    EXPECT_EQ(kCrc30Cdma.TableEntry(2), 0x2051CA49u);
    // The two CRC-16 variants share one table.
    for (std::size_t i = 0; i < 256; ++i) ASSERT_EQ(kCrc16X25.TableEntry(i), kCrc16Mcrf4xx.TableEntry(i));
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

}  // namespace
}  // namespace kestrel
