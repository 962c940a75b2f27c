#include "support/CBenchPeer.h"

#include "link/CPtyPair.h"
#include "link/Frame.h"
#include "link/WireVocabulary.h"

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
    return BuildCommandFrame(address, code);
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
            while (start < size && pending[start] != wire::kSync)
                ++start;
            int length = 0;
            FrameVerdict verdict = JudgeFrame(std::span<const std::uint8_t>(pending + start, static_cast<std::size_t>(size - start)), length);
            if (verdict == FrameVerdict::BadLength || length > static_cast<int>(sizeof pending)) {
                ++start;
                continue;
            }
            if (verdict == FrameVerdict::NeedMore)
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
    if (length == kShortestFrame && (frame[3] == wire::kAck || frame[3] == wire::kNak))
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
