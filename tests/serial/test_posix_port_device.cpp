// The port device's write path under the failures a loaded USB line produces.

#include <gtest/gtest.h>

#include <cerrno>

#include "serial/posix_port_device.h"
#include "tests/support/pty_pair.h"

namespace kestrel {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(PosixPortDevice, ShortWritesEintrAndEagainStillDeliverEveryByteInOrder)
{
    test::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    int call = 0;
    PortSysCalls sys;
    sys.write = [&call](int fd, const void* buf, std::size_t len) -> ssize_t {
        switch (call++ % 3) {
        case 0: errno = EINTR; return -1;
        case 1: errno = EAGAIN; return -1;
        default: return ::write(fd, buf, std::min<std::size_t>(len, 5));
        }
    };
    CPosixPortDevice dev(sys);
    ASSERT_EQ(dev.Open(pty.SlavePath(), LineSettings{}), PortOpenError::None);
    Bytes data(300);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    EXPECT_TRUE(dev.Write(data.data(), data.size(), 1000));
    EXPECT_EQ(pty.Receive(data.size()), data);
}

TEST(PosixPortDevice, WriteThatNeverDrainsFailsAtItsDeadline)
{
    test::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    PortSysCalls sys;
    sys.write = [](int, const void*, std::size_t) -> ssize_t {
        errno = EAGAIN;
        return -1;
    };
    CPosixPortDevice dev(sys);
    ASSERT_EQ(dev.Open(pty.SlavePath(), LineSettings{}), PortOpenError::None);
    const uint8_t b = 1;
    EXPECT_FALSE(dev.Write(&b, 1, 50));
}

TEST(PosixPortDevice, HardWriteErrorFails)
{
    test::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    PortSysCalls sys;
    sys.write = [](int, const void*, std::size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    CPosixPortDevice dev(sys);
    ASSERT_EQ(dev.Open(pty.SlavePath(), LineSettings{}), PortOpenError::None);
    const uint8_t b = 1;
    EXPECT_FALSE(dev.Write(&b, 1, 1000));
}

TEST(PosixPortDevice, WithoutItsWakeUpDescriptorThePortIsNotOpened)
{
    // A port that could not be woken would hang the close that waits for its reader.
    test::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    PortSysCalls sys;
    sys.eventfd = [](unsigned int, int) {
        errno = EMFILE;
        return -1;
    };
    CPosixPortDevice dev(sys);
    EXPECT_EQ(dev.Open(pty.SlavePath(), LineSettings{}), PortOpenError::Other);
    dev.Close();
}

TEST(PosixPortDevice, UnsupportedSpeedIsRefused)
{
    test::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    CPosixPortDevice dev;
    EXPECT_EQ(dev.Open(pty.SlavePath(), LineSettings{12345, 8, 0, 0}), PortOpenError::BadSettings);
}

}  // namespace
}  // namespace kestrel
