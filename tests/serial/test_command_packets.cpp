#include <gtest/gtest.h>

#include <algorithm>

#include "serial/com_map.h"
#include "serial/command_packets.h"

namespace kestrel {
namespace {

TEST(CommandPackets, RetryRequestBlockKeepsTheFileOffset)
{
    BlockPacket p;
    p.dwOffset = 0x1234;
    p.data.fill(0xAA);
    FillRetryRequest(p);
    EXPECT_EQ(p.dwOffset, 0x1234u);
    EXPECT_EQ(p.wLength, kBlockSize);
    const uint8_t head[] = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24, 0x01};
    EXPECT_TRUE(std::equal(std::begin(head), std::end(head), p.data.begin()));
    EXPECT_TRUE(std::all_of(p.data.begin() + 8, p.data.end(), [](uint8_t b) { return b == 0; }));
}

TEST(CommandPackets, SignatureRule)
{
    BlockPacket sig;
    sig.data.fill(0x55);
    std::copy(kRetransmitSignature.begin(), kRetransmitSignature.end(), sig.data.begin());
    sig.data[7] = 0x01;

    bool pending = false;
    BlockPacket a = sig;
    ApplySignatureRule(a, pending);
    EXPECT_TRUE(pending);
    EXPECT_EQ(a.data[7], 0x02);
    EXPECT_EQ(a.data[8], 0x55);

    // The next block read clears the flag without being tested, even when it carries the signature.
    BlockPacket b = sig;
    ApplySignatureRule(b, pending);
    EXPECT_FALSE(pending);
    EXPECT_EQ(b.data[7], 0x01);

    BlockPacket plain;
    plain.data.fill(0x01);
    ApplySignatureRule(plain, pending);
    EXPECT_FALSE(pending);
    EXPECT_EQ(plain.data[7], 0x01);
}

TEST(CommandPackets, PaddedShortBlockCrcCoversAllBytes)
{
    BlockPacket p;
    p.data.fill(0xFF);
    for (int i = 0; i < 100; ++i) p.data[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i);
    const uint16_t whole = BlockCrc(p.data.data(), kBlockSize);
    EXPECT_NE(whole, BlockCrc(p.data.data(), 100));
    const char digits[] = "123456789";
    EXPECT_EQ(BlockCrc(reinterpret_cast<const uint8_t*>(digits), 9), 0x6F91);
}

TEST(CommandPackets, ReplyNames)
{
    const std::pair<uint8_t, const char*> names[] = {
        {0x02, "ACK"},         {0x03, "RETRY_ACK"},        {0xA1, "NAK_BAD_CRC"},
        {0xA2, "NAK_MODEL_VERSION"}, {0xA3, "NAK_INVALID_CMD"}, {0xA4, "NAK_FAILED"},
    };
    for (auto [code, name] : names) EXPECT_EQ(ReplyCodeName(code), name);
    EXPECT_FALSE(ReplyCodeName(0x00).has_value());
    EXPECT_FALSE(ReplyCodeName(0xA5).has_value());
    EXPECT_EQ(kModeSwitchCommand, "AT$ZQKVMW\r");
}

TEST(ComMap, NumbersToDevicesAndBack)
{
    unsetenv("KESTREL_COM4");
    const auto none = [](const std::string&) { return std::string(); };
    const std::pair<int, const char*> fixed[] = {
        {1, "/dev/ttyS0"},   {2, "/dev/ttyS1"},    {3, "/dev/ttyACM0"}, {10, "/dev/ttyACM7"},
        {11, "/dev/ttyUSB0"}, {20, "/dev/ttyUSB9"}, {21, ""},            {0, ""},
        {256, ""},
    };
    for (auto [port, device] : fixed) {
        SCOPED_TRACE(port);
        EXPECT_EQ(DevicePathForPort(port, none), device);
        if (*device) {
            EXPECT_EQ(PortForDevicePath(device, none), port);
        }
    }
    EXPECT_FALSE(PortForDevicePath("/dev/ttyACM8", none).has_value());

    setenv("KESTREL_COM4", "/tmp/handset", 1);
    EXPECT_EQ(DevicePathForPort(4, none), "/tmp/handset");
    EXPECT_EQ(PortForDevicePath("/tmp/handset", none), 4);
    const auto settings = [](const std::string& name) { return name == "COM4" ? std::string("/dev/serial/by-id/x") : std::string(); };
    EXPECT_EQ(DevicePathForPort(4, settings), "/dev/serial/by-id/x");  // the setting wins
    EXPECT_EQ(PortForDevicePath("/dev/serial/by-id/x", settings), 4);
    EXPECT_FALSE(PortForDevicePath("/dev/ttyACM1", settings).has_value());  // COM4 lives elsewhere now
    EXPECT_TRUE(IsPortMapped(4, none));      // by the variable
    EXPECT_TRUE(IsPortMapped(4, settings));  // by both
    unsetenv("KESTREL_COM4");
    EXPECT_TRUE(IsPortMapped(4, settings));
    EXPECT_FALSE(IsPortMapped(4, none));
    EXPECT_FALSE(IsPortMapped(5, settings));
    EXPECT_FALSE(IsPortMapped(256, [](const std::string&) { return std::string("/tmp/x"); }));
    EXPECT_EQ(PortName(12), "COM12");
}

}  // namespace
}  // namespace kestrel
