#include "support/CBenchPeer.h"

#include "link/CPtyPair.h"
#include "link/CheckCode.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace orvex {

CBenchPeer::CBenchPeer(std::vector<std::uint8_t> reply, Answer answer)
    : m_reply(std::move(reply))
    , m_answer(answer)
{
    CPtyPair pair;
    if (pair.Open() != 0) {
        m_error = pair.Error();
        return;
    }
    m_slavePath = pair.SlavePath();
    m_slaveKeeper = pair.ReleaseSlave();
    m_master = pair.ReleaseMaster();
    if (pipe2(m_wake, O_CLOEXEC) != 0) {
        m_error = std::string("pipe2: ") + std::strerror(errno);
        return;
    }
    m_thread = std::thread([this] { Run(); });
}

CBenchPeer::~CBenchPeer()
{
    if (m_thread.joinable()) {
        const char stop = 1;
        while (::write(m_wake[1], &stop, 1) < 0 && errno == EINTR) { }
        m_thread.join();
    }
    for (int fd : { m_wake[0], m_wake[1], m_slaveKeeper, m_master })
        if (fd >= 0)
            ::close(fd);
}

std::vector<std::uint8_t> CBenchPeer::ShortReply(std::uint8_t address, std::uint8_t code)
{
    std::vector<std::uint8_t> frame { kSync, address, 6, code, 0, 0 };
    std::uint16_t check = CheckCodeOver(frame.data(), 4);
    frame[4] = static_cast<std::uint8_t>(check & 0xFF);
    frame[5] = static_cast<std::uint8_t>(check >> 8);
    return frame;
}

void CBenchPeer::Run()
{
    // Frames are short; a fixed buffer with a sliding start is enough and
    // keeps the peer's own share out of the figures.
    std::uint8_t pending[8192];
    int size = 0;
    while (true) {
        pollfd entries[2] { { m_master, POLLIN, 0 }, { m_wake[0], POLLIN, 0 } };
        int ready = ::poll(entries, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || entries[1].revents != 0)
            return;
        if (!(entries[0].revents & POLLIN))
            continue;
        ssize_t got = ::read(m_master, pending + size, sizeof pending - static_cast<std::size_t>(size));
        if (got <= 0)
            continue;
        size += static_cast<int>(got);
        int start = 0;
        while (true) {
            while (start < size && pending[start] != kSync)
                ++start;
            if (size - start < 3)
                break;
            int length = pending[start + 2];
            if (length == 0) {
                if (size - start < 5)
                    break;
                length = pending[start + 3] * 256 + pending[start + 4];
            }
            if (length < 6 || length > static_cast<int>(sizeof pending)) {
                ++start;
                continue;
            }
            if (size - start < length)
                break;
            Serve(pending + start, length);
            start += length;
        }
        std::memmove(pending, pending + start, static_cast<std::size_t>(size - start));
        size -= start;
    }
}

void CBenchPeer::Serve(const std::uint8_t* frame, int length)
{
    if (length == 6 && (frame[3] == kAckCode || frame[3] == kNakCode))
        return;
    m_commands.fetch_add(1);
    if (m_answer.load() == Answer::Silent)
        return;
    std::size_t written = 0;
    while (written < m_reply.size()) {
        ssize_t put = ::write(m_master, m_reply.data() + written, m_reply.size() - written);
        if (put > 0)
            written += static_cast<std::size_t>(put);
        else if (put < 0 && errno != EINTR && errno != EAGAIN)
            return;
    }
}

} // namespace orvex
