#include "link/CTcpLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace orvex {

namespace {

// ser2net's answer to a client beyond its connection limit.
constexpr std::string_view kServerBusy = "Port already in use";
// A server that turns a client away does so at once; on a raw port this is
// how long the open listens for it.
constexpr auto kRefusalWait = std::chrono::milliseconds(30);

int MillisecondsUntil(CSerialLine::Deadline deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left) + 1;
}

// Connects one address before the deadline; the socket or -errno.
int ConnectOne(const addrinfo& address, CSerialLine::Deadline deadline)
{
    int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0)
        return -errno;
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0 && errno != EINPROGRESS) {
        int error = errno;
        ::close(fd);
        return -error;
    }
    for (;;) {
        pollfd entry { fd, POLLOUT, 0 };
        int ready = ::poll(&entry, 1, MillisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            ::close(fd);
            return ready == 0 ? -ETIMEDOUT : -errno;
        }
        break;
    }
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        ::close(fd);
        return -error;
    }
    // One bus frame is a handful of bytes: Nagle's wait for more, against
    // the peer's delayed acknowledgement, would stall an exchange by 40 ms.
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

} // namespace

CTcpLine::~CTcpLine()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

int CTcpLine::Open(const std::string& path)
{
    Close();
    auto name = ParseNetworkPortName(path);
    if (!name)
        return EINVAL;
    m_name = *name;
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int lookup = getaddrinfo(m_name.host.c_str(), m_name.port.c_str(), &hints, &found);
    if (lookup != 0)
        return lookup == EAI_SYSTEM ? errno : EHOSTUNREACH;
    const Deadline deadline = std::chrono::steady_clock::now() + kConnectTimeout;
    int error = ECONNREFUSED;
    for (addrinfo* address = found; address != nullptr; address = address->ai_next) {
        int result = ConnectOne(*address, deadline);
        if (result >= 0) {
            m_socket = result;
            break;
        }
        error = -result;
    }
    freeaddrinfo(found);
    if (m_socket < 0)
        return error;
    m_gone = {};
    error = AfterConnect(deadline);
    if (error != 0)
        Close();
    return error;
}

int CTcpLine::AfterConnect(Deadline)
{
    // Nothing is expected on a raw port; a refusal comes at once, as a
    // line of text and the connection closing.
    const Deadline until = std::chrono::steady_clock::now() + kRefusalWait;
    for (;;) {
        LineResult result = Receive(until);
        if (result.fault == LineFault::ConnectionRefused)
            return result.error;
        if (result.fault == LineFault::ConnectionLost)
            return ECONNRESET;
        if (!result.Complete())
            return 0;
    }
}

int CTcpLine::Configure(const LineMode&)
{
    return m_socket >= 0 ? 0 : EBADF;
}

void CTcpLine::Close()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    m_received.clear();
    m_readOffset = 0;
}

void CTcpLine::Take(const std::uint8_t* bytes, std::size_t count)
{
    m_received.insert(m_received.end(), bytes, bytes + count);
}

LineResult CTcpLine::Lost(int error)
{
    std::string_view said(reinterpret_cast<const char*>(m_received.data()) + m_readOffset, m_received.size() - m_readOffset);
    if (said.find(kServerBusy) != std::string_view::npos) {
        m_received.clear();
        m_readOffset = 0;
        m_gone = { LineFault::ConnectionRefused, EBUSY, 0 };
    } else {
        m_gone = { LineFault::ConnectionLost, error, 0 };
    }
    return m_gone;
}

LineResult CTcpLine::Receive(Deadline deadline)
{
    if (m_socket < 0)
        return { LineFault::IoError, EBADF, 0 };
    if (!m_gone.Complete())
        return m_gone;
    for (;;) {
        std::uint8_t chunk[4096];
        ssize_t got = ::recv(m_socket, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) {
            // Acknowledge at once: a server that writes a reply in two small
            // segments (ser2net's purge answer, then the data) holds the
            // second back until the first is acknowledged, and a delayed
            // acknowledgement would cost 40 ms. Linux forgets the setting
            // after a while, so it is renewed on every read.
            int on = 1;
            setsockopt(m_socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
            Take(chunk, static_cast<std::size_t>(got));
            return {};
        }
        if (got == 0)
            return Lost(0);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return Lost(errno);
        if (std::chrono::steady_clock::now() >= deadline)
            return { LineFault::Timeout, 0, 0 };
        pollfd entry { m_socket, POLLIN, 0 };
        int ready = ::poll(&entry, 1, MillisecondsUntil(deadline));
        if (ready < 0 && errno != EINTR)
            return { LineFault::IoError, errno, 0 };
        if (ready == 0)
            return { LineFault::Timeout, 0, 0 };
    }
}

void CTcpLine::Drain()
{
    while (m_socket >= 0 && m_gone.Complete()) {
        if (!Receive(std::chrono::steady_clock::now()).Complete())
            return;
    }
}

LineResult CTcpLine::ReadAll(std::uint8_t* buffer, int count, Deadline deadline)
{
    int received = 0;
    for (;;) {
        std::size_t waiting = m_received.size() - m_readOffset;
        std::size_t take = std::min(waiting, static_cast<std::size_t>(count - received));
        std::copy_n(m_received.begin() + static_cast<std::ptrdiff_t>(m_readOffset), take, buffer + received);
        m_readOffset += take;
        received += static_cast<int>(take);
        if (m_readOffset == m_received.size()) {
            m_received.clear();
            m_readOffset = 0;
        }
        if (received >= count)
            return { LineFault::None, 0, received };
        LineResult result = Receive(deadline);
        if (!result.Complete()) {
            result.transferred = received;
            return result;
        }
    }
}

LineResult CTcpLine::Send(const std::uint8_t* bytes, std::size_t count, Deadline deadline)
{
    if (m_socket < 0)
        return { LineFault::IoError, EBADF, 0 };
    if (!m_gone.Complete())
        return m_gone;
    std::size_t sent = 0;
    while (sent < count) {
        ssize_t put = ::send(m_socket, bytes + sent, count - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put > 0) {
            sent += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            LineResult lost = Lost(errno);
            lost.transferred = static_cast<int>(sent);
            return lost;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return { LineFault::Timeout, 0, static_cast<int>(sent) };
        pollfd entry { m_socket, POLLOUT, 0 };
        if (::poll(&entry, 1, MillisecondsUntil(deadline)) < 0 && errno != EINTR)
            return { LineFault::IoError, errno, static_cast<int>(sent) };
    }
    return { LineFault::None, 0, static_cast<int>(sent) };
}

LineResult CTcpLine::WriteAll(const std::uint8_t* buffer, int count, Deadline deadline)
{
    return Send(buffer, static_cast<std::size_t>(count < 0 ? 0 : count), deadline);
}

void CTcpLine::Flush(FlushDirection)
{
    // What the server has not sent yet cannot be called back over raw TCP;
    // what has arrived is thrown away as a tty's purge would.
    Drain();
    m_received.clear();
    m_readOffset = 0;
}

LineResult CTcpLine::SetRts(RtsLevel)
{
    return { LineFault::Unconfirmed, ENOTSUP, 0 };
}

} // namespace orvex
