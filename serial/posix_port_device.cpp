#include "posix_port_device.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>

namespace kestrel {
namespace {

PortOpenError ClassifyOpenErrno(int err)
{
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
        return PortOpenError::NotFound;
    case EBUSY:
    case EWOULDBLOCK:
        return PortOpenError::Busy;
    case EACCES:
    case EPERM:
        return PortOpenError::Permission;
    default:
        return PortOpenError::Other;
    }
}

bool SpeedConstant(uint32_t baud, speed_t& speed)
{
    switch (baud) {
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    case 115200: speed = B115200; return true;
    case 230400: speed = B230400; return true;
    default: return false;
    }
}

bool ApplyLineSettings(int fd, const SLineSettings& s)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    speed_t speed;
    if (!SpeedConstant(s.dwBaudRate, speed) || s.byByteSize != 8) return false;

    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    if (s.byParity != 0) tio.c_cflag |= PARENB | (s.byParity == 1 ? PARODD : 0);
    if (s.byStopBits == 2) tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// Waits a bounded time for the bytes still queued for the line: tcdrain could wait forever
// on a device that never takes them.
void WaitForOutputSent(int fd)
{
    constexpr int kMaxWaitMs = 1000;
    constexpr int kStepMs = 5;
    for (int waited = 0; waited < kMaxWaitMs; waited += kStepMs) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
        usleep(kStepMs * 1000);
    }
}

}  // namespace

CPosixPortDevice::CPosixPortDevice(SPortSysCalls sys) : m_sys(std::move(sys))
{
    m_nWakeFd = m_sys.eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CPosixPortDevice::~CPosixPortDevice()
{
    Close();
    if (m_nWakeFd >= 0) ::close(m_nWakeFd);
}

PortOpenError CPosixPortDevice::Open(const std::string& path, const SLineSettings& settings)
{
    Close();
    // Without the wake-up descriptor a close could never end a wait on the port.
    if (m_nWakeFd < 0) return PortOpenError::Other;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ClassifyOpenErrno(errno);

    // Frames written into the user's own terminal would garble it and reach no handset.
    if (const pid_t session = tcgetsid(fd); session != -1 && session == getsid(0)) {
        ::close(fd);
        return PortOpenError::OwnTerminal;
    }
    // TIOCEXCL keeps other users out but not root; the lock is what stops a second Kestrel.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return ClassifyOpenErrno(err);
    }
    ioctl(fd, TIOCEXCL);

    termios original{};
    if (tcgetattr(fd, &original) != 0 || !ApplyLineSettings(fd, settings)) {
        ::close(fd);
        return PortOpenError::BadSettings;
    }
    // DTR off; pseudo-terminals have no modem lines and refuse with ENOTTY, which is fine.
    int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIC, &dtr);
    tcflush(fd, TCIOFLUSH);

    std::unique_lock guard(m_fdLock);
    DrainWake();
    m_nFd = fd;
    m_originalSettings = original;
    m_bHungUp = false;
    return PortOpenError::None;
}

void CPosixPortDevice::Close()
{
    m_bClosing = true;
    Interrupt();
    std::unique_lock guard(m_fdLock);
    m_bClosing = false;
    if (m_nFd < 0) return;
    // Only input is discarded: bytes already written (the mode-switch command right before a
    // close, for one) must still reach the handset, at the speed they were written at.
    tcflush(m_nFd, TCIFLUSH);
    WaitForOutputSent(m_nFd);
    tcsetattr(m_nFd, TCSANOW, &m_originalSettings);
    // On a pseudo-terminal the exclusive flag outlives the close and would turn away our own
    // next open.
    ioctl(m_nFd, TIOCNXCL);
    ::close(m_nFd);
    m_nFd = -1;
}

bool CPosixPortDevice::Write(const uint8_t* data, std::size_t length, int deadlineMs)
{
    std::shared_lock guard(m_fdLock);
    if (m_nFd < 0) return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = m_sys.write(m_nFd, data + done, length - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{m_nFd, POLLOUT, 0};
        if (m_sys.poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    }
    return true;
}

std::size_t CPosixPortDevice::Read(uint8_t* buffer, std::size_t length)
{
    std::shared_lock guard(m_fdLock);
    if (m_nFd < 0) return 0;
    ssize_t n;
    do {
        n = ::read(m_nFd, buffer, length);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

PortWait CPosixPortDevice::WaitForInput()
{
    if (m_bClosing) return PortWait::Interrupted;
    std::shared_lock guard(m_fdLock);
    // A closed or hung-up port is not polled any more: only a wake-up ends the wait.
    const bool watchPort = m_nFd >= 0 && !m_bHungUp;
    pollfd fds[2] = {{m_nWakeFd, POLLIN, 0}, {watchPort ? m_nFd : -1, POLLIN, 0}};
    for (;;) {
        const int r = m_sys.poll(fds, 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return PortWait::Interrupted;
        break;
    }
    if (fds[0].revents & POLLIN) {
        DrainWake();
        return PortWait::Interrupted;
    }
    const short ev = fds[1].revents;
    if (ev & POLLIN) {
        int queued = 0;
        if (ioctl(m_nFd, FIONREAD, &queued) == 0 && queued > 0) return PortWait::Input;
    }
    if (ev & (POLLHUP | POLLERR | POLLNVAL)) {
        m_bHungUp = true;
        return PortWait::HangUp;
    }
    return PortWait::Input;
}

void CPosixPortDevice::Interrupt()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_nWakeFd, &one, sizeof one);
}

void CPosixPortDevice::DrainWake()
{
    uint64_t value;
    [[maybe_unused]] const ssize_t n = ::read(m_nWakeFd, &value, sizeof value);
}

}  // namespace kestrel
