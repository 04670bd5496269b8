#include "pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace kestrel::sim {
namespace {

uint32_t SpeedValue(speed_t speed)
{
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B921600: return 921600;
    default: return 0;
    }
}

void CloseFd(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

bool CPtyLine::Open(std::string& error)
{
    Unplug();
    auto fail = [&](const char* what) {
        error = std::string(what) + ": " + std::strerror(errno);
        Close();
        return false;
    };
    m_nMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_nMaster < 0) return fail("posix_openpt");
    char name[128];
    if (grantpt(m_nMaster) != 0 || unlockpt(m_nMaster) != 0 || ptsname_r(m_nMaster, name, sizeof name) != 0)
        return fail("cannot prepare the pseudo-terminal");
    m_strSlave = name;
    m_nSlaveHold = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_nSlaveHold < 0) return fail("cannot open the slave");
    // Raw from the start: an echo would send the handset's replies back to itself. The speed
    // is left alone, so a tool that never sets one is caught by the speed checks.
    termios tio{};
    if (tcgetattr(m_nSlaveHold, &tio) != 0) return fail("tcgetattr");
    const speed_t speed = cfgetospeed(&tio);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(m_nSlaveHold, TCSANOW, &tio) != 0) return fail("tcsetattr");
    m_nWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_nWatch < 0 || inotify_add_watch(m_nWatch, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        return fail("inotify");
    CloseFd(m_nRetired);
    return true;
}

void CPtyLine::Unplug()
{
    CloseFd(m_nWatch);
    CloseFd(m_nMaster);
    if (m_nSlaveHold >= 0) {
        CloseFd(m_nRetired);
        m_nRetired = std::exchange(m_nSlaveHold, -1);
    }
}

void CPtyLine::Close()
{
    Unplug();
    CloseFd(m_nRetired);
}

uint32_t CPtyLine::Baud() const
{
    // On Linux the master reports the slave's settings, which is where the tool sets them.
    termios tio{};
    if (m_nMaster < 0 || tcgetattr(m_nMaster, &tio) != 0) return 0;
    return SpeedValue(cfgetospeed(&tio));
}

long CPtyLine::Read(uint8_t* buffer, std::size_t length)
{
    for (;;) {
        const ssize_t n = ::read(m_nMaster, buffer, length);
        if (n > 0) return n;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        return -1;
    }
}

bool CPtyLine::Write(std::span<const uint8_t> bytes, int deadlineMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_nMaster, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{m_nMaster, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
    }
    return true;
}

void CPtyLine::OnSlaveEvents()
{
    alignas(inotify_event) char buf[4096];
    bool closed = false;
    for (;;) {
        const ssize_t n = ::read(m_nWatch, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
            if (ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) closed = true;
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
    if (closed) ioctl(m_nSlaveHold, TIOCNXCL);
}

}  // namespace kestrel::sim
