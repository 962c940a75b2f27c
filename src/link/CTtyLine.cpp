#include "link/CTtyLine.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace orvex {

namespace {

speed_t SpeedFor(int baud)
{
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0;
    }
}

int MillisecondsUntil(CSerialLine::Deadline deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    // Round up so that a wait never ends a fraction of a millisecond early.
    return left < 0 ? 0 : static_cast<int>(left) + 1;
}

} // namespace

CTtyLine::~CTtyLine()
{
    Close();
}

int CTtyLine::Open(const std::string& path)
{
    Close();
    if (path.empty())
        return ENOENT;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Refuse what is not a terminal before anything is written to it.
    if (!isatty(fd)) {
        int error = errno == 0 ? ENOTTY : errno;
        ::close(fd);
        return error == EINVAL ? ENOTTY : error;
    }
    // TIOCEXCL keeps other ordinary users out; root passes it, so the
    // advisory lock is what tells two programs of ours apart.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? EBUSY : error;
    }
    ioctl(fd, TIOCEXCL);
    // Whatever used the line before us gets its settings back on close.
    m_savedValid = tcgetattr(fd, &m_saved) == 0;
    // Linux raises DTR and RTS on open; the bus wants both low (RTS moves
    // only for the reset pulse). A pty has no modem lines: the call fails
    // there, harmlessly.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
    struct stat info {};
    m_device = fstat(fd, &info) == 0 ? info.st_rdev : 0;
    m_path = path;
    m_fd = fd;
    return 0;
}

int CTtyLine::Configure(const LineMode& mode)
{
    if (m_fd < 0)
        return EBADF;
    termios settings {};
    if (tcgetattr(m_fd, &settings) != 0)
        return errno;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~(CRTSCTS | CSIZE | PARENB | PARODD | CSTOPB);
    settings.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    switch (mode.dataBits) {
    case 5: settings.c_cflag |= CS5; break;
    case 6: settings.c_cflag |= CS6; break;
    case 7: settings.c_cflag |= CS7; break;
    default: settings.c_cflag |= CS8; break;
    }
    if (mode.parity != Parity::None)
        settings.c_cflag |= PARENB | (mode.parity == Parity::Odd ? PARODD : 0);
    if (mode.stopBits == 2)
        settings.c_cflag |= CSTOPB;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    speed_t speed = SpeedFor(mode.baud);
    if (speed == B0)
        return EINVAL;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    if (tcsetattr(m_fd, TCSANOW, &settings) != 0)
        return errno;
    // Some drivers raise the modem lines again on a speed change.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(m_fd, TIOCMBIC, &lines);
    return 0;
}

int CTtyLine::Adopt(int descriptor)
{
    Close();
    if (descriptor < 0)
        return EBADF;
    m_fd = descriptor;
    m_path.clear();
    m_savedValid = false;
    return 0;
}

void CTtyLine::Close()
{
    if (m_fd < 0)
        return;
    tcflush(m_fd, TCIOFLUSH);
    if (m_savedValid)
        tcsetattr(m_fd, TCSANOW, &m_saved);
    m_savedValid = false;
    // The exclusive mode belongs to the tty, not to this descriptor, and
    // outlives the close while anyone else keeps the device open (the
    // master of a pty always does): left set, it would refuse the next
    // ordinary user's open, ours included, as busy.
    ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
}

LineResult CTtyLine::Lost(int error, int transferred) const
{
    // An unplugged adapter takes its device node with it (a pty's slave
    // node goes with its master); a tty hung up in place keeps it.
    struct stat info {};
    bool present = ::stat(m_path.c_str(), &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == m_device;
    if (!present)
        return { LineFault::DeviceRemoved, error, transferred };
    if (error != 0 && error != EIO)
        return { LineFault::IoError, error, transferred };
    return { LineFault::HungUp, error, transferred };
}

LineResult CTtyLine::ReadAll(std::uint8_t* buffer, int count, Deadline deadline)
{
    int received = 0;
    if (m_fd < 0)
        return { LineFault::IoError, EBADF, 0 };
    bool hungUp = false;
    while (received < count) {
        ssize_t got = ::read(m_fd, buffer + received, static_cast<std::size_t>(count - received));
        if (got > 0) {
            received += static_cast<int>(got);
            continue;
        }
        // With VMIN and VTIME at 0 a tty answers an empty queue with 0,
        // not EAGAIN; poll() below tells a hang-up from an empty queue.
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return Lost(errno, received); // EIO after a hang-up, or a real fault
        // A hung-up tty polls readable for ever and reads as empty: once
        // poll() has said hang-up and nothing is left, the read is over.
        if (hungUp)
            return Lost(0, received);
        int wait = MillisecondsUntil(deadline);
        if (std::chrono::steady_clock::now() >= deadline)
            return { LineFault::Timeout, 0, received };
        pollfd entry { m_fd, POLLIN, 0 };
        int ready = ::poll(&entry, 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return { LineFault::IoError, errno, received };
        if (ready == 0)
            return { LineFault::Timeout, 0, received };
        if (entry.revents & POLLNVAL)
            return { LineFault::IoError, EBADF, received };
        // Bytes that came before the hang-up are still read; then it ends.
        if (entry.revents & (POLLHUP | POLLERR))
            hungUp = true;
    }
    return { LineFault::None, 0, received };
}

LineResult CTtyLine::WriteAll(const std::uint8_t* buffer, int count, Deadline deadline)
{
    if (m_fd < 0)
        return { LineFault::IoError, EBADF, 0 };
    int written = 0;
    while (written < count) {
        ssize_t put = ::write(m_fd, buffer + written, static_cast<std::size_t>(count - written));
        if (put > 0) {
            written += static_cast<int>(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return Lost(errno, written);
        if (std::chrono::steady_clock::now() >= deadline)
            return { LineFault::Timeout, 0, written };
        pollfd entry { m_fd, POLLOUT, 0 };
        int ready = ::poll(&entry, 1, MillisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            return { LineFault::Timeout, 0, written };
        if (ready < 0)
            return { LineFault::IoError, errno, written };
        if (entry.revents & POLLNVAL)
            return { LineFault::IoError, EBADF, written };
        if (entry.revents & (POLLHUP | POLLERR))
            return Lost(0, written);
    }
    return { LineFault::None, 0, written };
}

void CTtyLine::Flush(FlushDirection direction)
{
    if (m_fd >= 0)
        tcflush(m_fd, direction == FlushDirection::Both ? TCIOFLUSH : TCIFLUSH);
}

LineResult CTtyLine::SetRts(RtsLevel level)
{
    if (m_fd < 0)
        return { LineFault::IoError, EBADF, 0 };
    // A pty has no modem lines; the pulse is then a pause, as it always was.
    int line = TIOCM_RTS;
    ioctl(m_fd, level == RtsLevel::High ? TIOCMBIS : TIOCMBIC, &line);
    return {};
}

} // namespace orvex
