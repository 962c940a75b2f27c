#include "capture/CBusPort.h"

#include "link/LineMode.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace orvex {

CBusPort::CBusPort(std::string path)
    : m_path(std::move(path))
{
}

bool CBusPort::Open(const std::string& modeText, std::string& error)
{
    const auto mode = ParseLineMode(modeText);
    if (!mode) {
        error = m_path + ": " + modeText + " is not a line mode";
        return false;
    }
    m_line = MakeSerialLine(m_path);
    int failure = m_line->Open(m_path);
    if (failure == 0)
        failure = m_line->Configure(*mode);
    if (failure != 0) {
        error = m_path + ": " + std::strerror(failure);
        if (failure == EACCES)
            error += " (the user may need to be in the dialout group)";
        m_line.reset();
        return false;
    }
    m_loss.clear();
    return true;
}

void CBusPort::Close()
{
    if (m_line)
        m_line->Close();
    m_line.reset();
}

void CBusPort::Lost(int error)
{
    // A hang-up or EIO is what a pulled USB adapter (or a closed pty) gives.
    if (error == 0 || error == EIO || error == ENXIO || error == ENODEV)
        m_loss = m_path + ": device disconnected";
    else
        m_loss = m_path + ": " + std::strerror(error);
}

bool CBusPort::HungUp() const
{
    const int handle = m_line->Handle();
    if (!::isatty(handle))
        return true;
    pollfd entry { handle, POLLIN, 0 };
    while (::poll(&entry, 1, 0) < 0) {
        if (errno != EINTR)
            return true;
    }
    return (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

int CBusPort::ReadAvailable(std::uint8_t* buffer, int capacity)
{
    if (!m_line) {
        Lost(EBADF);
        return -1;
    }
    for (;;) {
        const ssize_t got = ::read(m_line->Handle(), buffer, static_cast<std::size_t>(capacity));
        if (got > 0)
            return static_cast<int>(got);
        // With VMIN and VTIME at 0 a tty that is merely empty reads as 0, as
        // a hung-up one does; only poll() tells them apart. (A network line
        // reads 0 only once its far end has closed.)
        if (got == 0) {
            if (!HungUp())
                return 0;
            Lost(0);
            return -1;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        Lost(errno);
        return -1;
    }
}

bool CBusPort::WriteAll(const std::uint8_t* bytes, int count, int timeoutMs)
{
    if (!m_line) {
        Lost(EBADF);
        return false;
    }
    int done = 0;
    while (done < count) {
        const ssize_t written = ::write(m_line->Handle(), bytes + done, static_cast<std::size_t>(count - done));
        if (written > 0) {
            done += static_cast<int>(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Lost(errno);
            return false;
        }
        pollfd entry { m_line->Handle(), POLLOUT, 0 };
        if (::poll(&entry, 1, timeoutMs) <= 0) {
            m_loss = m_path + ": the line takes no more bytes";
            return false;
        }
    }
    return true;
}

} // namespace orvex
