// CSerialPort against a real pseudo-terminal: what reaches the handset's side of the line.

#include <gtest/gtest.h>

#include <numeric>

#include "serial/command_packets.h"
#include "serial/log_queue.h"
#include "serial/serial_port.h"
#include "tests/support/pty_pair.h"
#include "tests/support/recording_owner.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;

class SerialPortPty : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.Ok());
        Configure(m_port);
        ASSERT_TRUE(m_port.OpenPort());
    }
    void Configure(CSerialPort& port)
    {
        port.SetSleeper([](int) {});
        port.SetPortResolver([this](int) { return m_pty.SlavePath(); });
        port.PrepareEvents(&m_owner, &m_log);
    }
    std::vector<std::string> LogLines()
    {
        std::vector<std::string> lines;
        CLogEntry e;
        while (m_log.Pop(e)) lines.push_back(e.strText);
        return lines;
    }

    test::CPtyPair m_pty;
    test::CRecordingOwner m_owner;
    CLogQueue m_log;
    CSerialPort m_port;
};

TEST_F(SerialPortPty, RequestsArriveFramedWithTheirLogLines)
{
    struct Case {
        const char* name;
        void (*send)(CSerialPort&);
        Bytes wire;
        const char* log;
    } cases[] = {
        {"start", [](CSerialPort& p) { p.RequestDownloadStart(); }, {0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00},
         "다운로드 시작 요청"},
        {"jump", [](CSerialPort& p) { p.RequestJump(); }, {}, "Jump 요청"},
        {"erase", [](CSerialPort& p) { p.RequestErase(0x10000, 0x20000); }, {}, "Flash erase 중.. 잠시만 기다리세요"},
        {"resend after erase", [](CSerialPort& p) { p.ResendLastCommand(); }, {}, "패킷 재전송합니다."},
    };
    std::array<uint8_t, kFrameBufferSize> frame;
    const uint8_t jump[] = {0xC0};
    const uint8_t erase[] = {0xEE, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00};
    cases[1].wire.assign(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(EncodeFrame(jump, Framing::Download, frame)));
    cases[2].wire.assign(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(EncodeFrame(erase, Framing::Download, frame)));
    cases[3].wire = cases[2].wire;

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.send(m_port);
        EXPECT_EQ(m_pty.Receive(c.wire.size()), c.wire);
        EXPECT_EQ(LogLines(), std::vector<std::string>{c.log});
    }
}

TEST_F(SerialPortPty, FramesBeforeTheFirstRequestOpenWithTheDmByte)
{
    const uint8_t abc[] = {0x61, 0x62, 0x63};
    EXPECT_EQ(m_port.CurrentFraming(), Framing::Dm);
    m_port.SendFrame(abc, 3, 0);
    EXPECT_EQ(m_pty.Receive(8), (Bytes{0x7F, 0x61, 0x62, 0x63, 0x25, 0x9E, 0x7E, 0x00}));
    m_port.RequestJump();
    m_pty.Receive(8);
    EXPECT_EQ(m_port.CurrentFraming(), Framing::Download);
    m_port.SendModeSwitchCommand();  // raw, framing unchanged
    EXPECT_EQ(m_pty.Receive(10), (Bytes{'A', 'T', '$', 'Z', 'Q', 'K', 'V', 'M', 'W', '\r'}));
    EXPECT_EQ(m_port.CurrentFraming(), Framing::Download);
}

TEST_F(SerialPortPty, TooLongPayloadIsRefusedAndNotRemembered)
{
    m_port.RequestJump();
    m_pty.Receive(8);
    const Bytes big(kMaxFramePayload + 1, 0x11);
    EXPECT_FALSE(m_port.SendFrame(big.data(), big.size(), 0));
    EXPECT_TRUE(m_pty.Receive(1, 100).empty());
    m_port.ResendLastCommand();  // still the jump
    EXPECT_EQ(m_pty.Receive(8)[1], 0xC0);
}

TEST_F(SerialPortPty, EveryByteValueCrossesARawBlockUnchanged)
{
    BlockPacket block;
    block.wLength = kBlockSize;
    for (std::size_t i = 0; i < kBlockSize; ++i) block.data[i] = static_cast<uint8_t>(i);
    m_port.SendTrackedBlock(block);
    const Bytes got = m_pty.Receive(kBlockSize);
    EXPECT_EQ(got, Bytes(block.data.begin(), block.data.end()));

    const uint16_t crc = BlockCrc(got.data(), got.size());
    EXPECT_TRUE(m_port.BlockCrcMatches(static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF)));
    EXPECT_FALSE(m_port.BlockCrcMatches(static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)));

    // An untracked block leaves the remembered CRC alone.
    BlockPacket retry;
    FillRetryRequest(retry);
    m_port.SendUntrackedBlock(retry);
    EXPECT_EQ(m_pty.Receive(kBlockSize), Bytes(retry.data.begin(), retry.data.end()));
    EXPECT_TRUE(m_port.BlockCrcMatches(static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF)));
}

TEST_F(SerialPortPty, LineIsRawEightNOneAtTheChosenSpeed)
{
    termios t = m_pty.SLineSettings();
    EXPECT_EQ(cfgetospeed(&t), B57600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ISIG | ECHO | IEXTEN), 0u);

    m_port.ChangeBaudRate(115200);
    ASSERT_TRUE(m_port.IsOpen());
    t = m_pty.SLineSettings();
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(cfgetispeed(&t), B115200);

    // Carriage returns and XON/XOFF bytes pass both ways untranslated.
    m_pty.Send({0x0D, 0x11, 0x13, 0x0A});
    uint8_t buf[8];
    std::size_t n = 0;
    for (int i = 0; i < 50 && n < 4; ++i) {
        usleep(2000);
        n += m_port.ReadAvailable(buf + n, sizeof buf - n);
    }
    EXPECT_EQ(Bytes(buf, buf + n), (Bytes{0x0D, 0x11, 0x13, 0x0A}));
    const uint8_t out[] = {0x0A, 0x0D};
    m_port.WriteBlock(out, 2);
    EXPECT_EQ(m_pty.Receive(2), (Bytes{0x0A, 0x0D}));
}

TEST_F(SerialPortPty, ChangeToTheCurrentSpeedLeavesThePortAlone)
{
    int sleeps = 0;
    m_port.SetSleeper([&](int) { ++sleeps; });
    m_port.ChangeBaudRate(57600);
    EXPECT_EQ(sleeps, 0);
    EXPECT_TRUE(m_port.IsOpen());
}

TEST_F(SerialPortPty, ASecondOpenerIsTurnedAway)
{
    CSerialPort second;
    Configure(second);
    EXPECT_FALSE(second.OpenPort());
    EXPECT_EQ(second.LastOpenError(), PortOpenError::Busy);
    EXPECT_FALSE(second.IsOpen());

    m_port.ClosePort();
    EXPECT_TRUE(second.OpenPort());
}

TEST_F(SerialPortPty, ClosedPortWritesNothingAndReadsNothing)
{
    EXPECT_TRUE(m_port.ClosePort());
    EXPECT_FALSE(m_port.ClosePort());
    m_port.RequestDownloadStart();
    const uint8_t raw[] = {1, 2, 3};
    EXPECT_FALSE(m_port.WriteBlock(raw, 3));
    EXPECT_TRUE(m_pty.Receive(1, 100).empty());
    uint8_t buf[4];
    EXPECT_EQ(m_port.ReadAvailable(buf, sizeof buf), 0u);
}

TEST_F(SerialPortPty, BytesWrittenRightBeforeACloseStillArrive)
{
    m_port.SendModeSwitchCommand();
    m_port.CloseAll();
    EXPECT_EQ(m_pty.Receive(10), (Bytes{'A', 'T', '$', 'Z', 'Q', 'K', 'V', 'M', 'W', '\r'}));
}

TEST_F(SerialPortPty, NothingQueuedReadsZero)
{
    uint8_t buf[4];
    EXPECT_EQ(m_port.ReadAvailable(buf, sizeof buf), 0u);
}

TEST(SerialPortOpen, FailuresAreToldApart)
{
    CSerialPort port;
    port.SetSleeper([](int) {});
    port.SetPortResolver([](int) { return std::string("/dev/kestrel-no-such-port"); });
    EXPECT_FALSE(port.OpenPort());
    EXPECT_EQ(port.LastOpenError(), PortOpenError::NotFound);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.ClosePort());
    EXPECT_NE(DescribeOpenFailure(port.LastOpenError(), port.LastDevicePath()).find("/dev/kestrel-no-such-port"),
              std::string::npos);

    port.SetPortResolver([](int) { return std::string("/dev/null"); });  // not a terminal
    EXPECT_FALSE(port.OpenPort());
    EXPECT_EQ(port.LastOpenError(), PortOpenError::BadSettings);

    port.SetPortResolver([](int) { return std::string(); });  // number without a device
    EXPECT_FALSE(port.OpenPort());
    EXPECT_EQ(port.LastOpenError(), PortOpenError::NotFound);

    // A device only its owner may open: no group to join, the udev rule is the way.
    char ownerOnly[] = "/tmp/kestrel-owner-only-XXXXXX";
    const int fd = mkstemp(ownerOnly);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(chmod(ownerOnly, 0600), 0);
    const std::string closed = DescribeOpenFailure(PortOpenError::Permission, ownerOnly);
    unlink(ownerOnly);
    EXPECT_EQ(closed.find("add the user to the group"), std::string::npos) << closed;
    EXPECT_NE(closed.find("mode 0600"), std::string::npos) << closed;
    EXPECT_NE(closed.find("udev rule"), std::string::npos) << closed;
    EXPECT_NE(DescribeOpenFailure(PortOpenError::OwnTerminal, "/dev/tty").find("the terminal this program runs in"),
              std::string::npos);

    const std::string perm = DescribeOpenFailure(PortOpenError::Permission, "/dev/ttyACM0");
    EXPECT_NE(perm.find("/dev/ttyACM0"), std::string::npos);
    EXPECT_NE(perm.find("group"), std::string::npos);
    EXPECT_NE(DescribeOpenFailure(PortOpenError::Busy, "/dev/ttyUSB3").find("/dev/ttyUSB3"), std::string::npos);
}

TEST_F(SerialPortPty, OpeningEmptiesAPartlyCollectedFrame)
{
    const uint8_t head[] = {0x7E, 0x02, 0x12};
    EXPECT_TRUE(m_port.Deframe(head, 3));
    m_port.ClosePort();
    ASSERT_TRUE(m_port.OpenPort());
    const uint8_t tail[] = {0x34, 0x7E};
    EXPECT_TRUE(m_port.Deframe(tail, 2));
    EXPECT_TRUE(m_owner.Packets().empty());
}

TEST_F(SerialPortPty, BadFramesAreLoggedInRedAndEmptyLinesAreNot)
{
    const uint8_t empty[] = {0x7E, 0x7E};
    m_port.Deframe(empty, 2);
    CLogEntry e;
    ASSERT_TRUE(m_log.Pop(e));
    EXPECT_EQ(e.nKind, kLogError);
    EXPECT_EQ(e.strText, "\n[RX]Bad CRC in response packet\n");
    EXPECT_EQ(m_owner.LogNotices(), 1);

    m_port.LogStatus("");
    m_port.LogError("");
    EXPECT_FALSE(m_log.Pop(e));
    EXPECT_EQ(m_owner.LogNotices(), 1);
}

}  // namespace
}  // namespace kestrel
