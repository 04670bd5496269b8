// The port device's write path under the failures a loaded USB line produces; what it
// leaves behind on a terminal and which terminal it refuses.

#include <gtest/gtest.h>
#include <sys/wait.h>

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
    SPortSysCalls sys;
    sys.write = [&call](int fd, const void* buf, std::size_t len) -> ssize_t {
        switch (call++ % 3) {
        case 0: errno = EINTR; return -1;
        case 1: errno = EAGAIN; return -1;
        default: return ::write(fd, buf, std::min<std::size_t>(len, 5));
        }
    };
    CPosixPortDevice dev(sys);
    ASSERT_EQ(dev.Open(pty.SlavePath(), SLineSettings{}), PortOpenError::None);
    Bytes data(300);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    EXPECT_TRUE(dev.Write(data.data(), data.size(), 1000));
    EXPECT_EQ(pty.Receive(data.size()), data);
}

TEST(PosixPortDevice, WriteThatNeverDrainsFailsAtItsDeadline)
{
    test::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    SPortSysCalls sys;
    sys.write = [](int, const void*, std::size_t) -> ssize_t {
        errno = EAGAIN;
        return -1;
    };
    CPosixPortDevice dev(sys);
    ASSERT_EQ(dev.Open(pty.SlavePath(), SLineSettings{}), PortOpenError::None);
    const uint8_t b = 1;
    EXPECT_FALSE(dev.Write(&b, 1, 50));
}

TEST(PosixPortDevice, HardWriteErrorFails)
{
    test::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    SPortSysCalls sys;
    sys.write = [](int, const void*, std::size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    CPosixPortDevice dev(sys);
    ASSERT_EQ(dev.Open(pty.SlavePath(), SLineSettings{}), PortOpenError::None);
    const uint8_t b = 1;
    EXPECT_FALSE(dev.Write(&b, 1, 1000));
}

TEST(PosixPortDevice, WithoutItsWakeUpDescriptorThePortIsNotOpened)
{
    // A port that could not be woken would hang the close that waits for its reader.
    test::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    SPortSysCalls sys;
    sys.eventfd = [](unsigned int, int) {
        errno = EMFILE;
        return -1;
    };
    CPosixPortDevice dev(sys);
    EXPECT_EQ(dev.Open(pty.SlavePath(), SLineSettings{}), PortOpenError::Other);
    dev.Close();
}

TEST(PosixPortDevice, UnsupportedSpeedIsRefused)
{
    test::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    CPosixPortDevice dev;
    EXPECT_EQ(dev.Open(pty.SlavePath(), SLineSettings{12345, 8, 0, 0}), PortOpenError::BadSettings);
}

TEST(PosixPortDevice, CloseGivesTheTerminalItsLineSettingsBack)
{
    test::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const int slave = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    // A terminal as a shell leaves it: cooked, echoing, at 9600.
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_oflag |= OPOST;
    before.c_iflag |= ICRNL;
    cfsetspeed(&before, B9600);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(slave, &before), 0);

    CPosixPortDevice dev;
    ASSERT_EQ(dev.Open(pty.SlavePath(), SLineSettings{115200, 8, 0, 0}), PortOpenError::None);
    termios during{};
    ASSERT_EQ(tcgetattr(slave, &during), 0);
    EXPECT_EQ(cfgetospeed(&during), B115200);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    dev.Close();

    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), B9600);
    EXPECT_EQ(cfgetispeed(&after), B9600);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    close(slave);
}

// The controlling terminal is refused by its own name and as /dev/tty; a child that starts
// a session of its own with a pseudo-terminal as its terminal tries both.
TEST(PosixPortDevice, TheProcesssOwnTerminalIsRefused)
{
    test::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setsid() < 0) _exit(10);
        const int terminal = open(pty.SlavePath().c_str(), O_RDWR);  // becomes the controlling terminal
        if (terminal < 0) _exit(11);
        CPosixPortDevice dev;
        const bool byName = dev.Open(pty.SlavePath(), SLineSettings{}) == PortOpenError::OwnTerminal;
        const bool asTty = dev.Open("/dev/tty", SLineSettings{}) == PortOpenError::OwnTerminal;
        _exit((byName ? 0 : 1) | (asTty ? 0 : 2));
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: refused by name failed, 2: as /dev/tty failed, 10+: set-up";

    // Another process's terminal is a port like any other.
    CPosixPortDevice dev;
    EXPECT_EQ(dev.Open(pty.SlavePath(), SLineSettings{}), PortOpenError::None);
}

}  // namespace
}  // namespace kestrel
