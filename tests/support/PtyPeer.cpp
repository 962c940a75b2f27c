#include "support/PtyPeer.h"

#include "link/CPtyPair.h"
#include "link/Frame.h"
#include "link/WireVocabulary.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace orvex::test {

Bytes MakeFrame(std::uint8_t address, const Bytes& data)
{
    return BuildFrame(address, data);
}

PtyPeer::PtyPeer()
{
    CPtyPair pair;
    if (pair.Open() != 0)
        throw std::runtime_error(pair.Error());
    m_slavePath = pair.SlavePath();
    m_slaveKeeper = pair.ReleaseSlave();
    m_master = pair.ReleaseMaster();
    m_thread = std::thread([this] { Run(); });
}

PtyPeer::~PtyPeer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    HangUp();
}

void PtyPeer::SetResponder(Responder responder)
{
    std::lock_guard lock(m_mutex);
    m_responder = std::move(responder);
}

std::vector<Bytes> PtyPeer::Frames() const
{
    std::lock_guard lock(m_mutex);
    return m_frames;
}

std::vector<Bytes> PtyPeer::Commands() const
{
    std::vector<Bytes> commands;
    for (auto& frame : Frames())
        if (!(frame.size() == 6 && (frame[3] == 0x00 || frame[3] == 0xFF)))
            commands.push_back(frame);
    return commands;
}

void PtyPeer::ClearFrames()
{
    std::lock_guard lock(m_mutex);
    m_frames.clear();
}

bool PtyPeer::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Frames().size() >= count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return Frames().size() >= count;
}

void PtyPeer::HangUp()
{
    // The reader thread owns the descriptors while it runs: closing them
    // under its poll or read would race, so it is asked and waited for.
    if (!m_thread.joinable() || std::this_thread::get_id() == m_thread.get_id()) {
        CloseLine();
        return;
    }
    m_hangUpAsked = true;
    while (m_master.load() >= 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void PtyPeer::CloseLine()
{
    int keeper = m_slaveKeeper.exchange(-1);
    if (keeper >= 0)
        ::close(keeper);
    int master = m_master.exchange(-1);
    if (master >= 0)
        ::close(master);
}

PtyPeer::Responder PtyPeer::Always(std::uint8_t address, Bytes data)
{
    return [address, data](const Bytes& frame) {
        if (frame.size() == 6 && (frame[3] == 0x00 || frame[3] == 0xFF))
            return PeerReply {};
        return PeerReply { MakeFrame(address, data) };
    };
}

void PtyPeer::Run()
{
    Bytes pending;
    while (!m_stop) {
        if (m_hangUpAsked.exchange(false))
            CloseLine();
        int master = m_master;
        if (master < 0)
            return;
        pollfd entry { master, POLLIN, 0 };
        int ready = ::poll(&entry, 1, 20);
        if (ready <= 0)
            continue;
        std::uint8_t chunk[4096];
        ssize_t got = ::read(master, chunk, sizeof chunk);
        if (got <= 0) {
            // EIO while no slave is open; wait for the host to reopen.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        pending.insert(pending.end(), chunk, chunk + got);
        while (true) {
            while (!pending.empty() && pending.front() != wire::kSync)
                pending.erase(pending.begin());
            // The peer records what the host wrote, check code right or not.
            int frameLength = 0;
            FrameVerdict verdict = JudgeFrame(pending, frameLength);
            if (verdict == FrameVerdict::NeedMore)
                break;
            if (verdict == FrameVerdict::BadLength) {
                pending.erase(pending.begin());
                continue;
            }
            auto length = static_cast<std::size_t>(frameLength);
            Bytes frame(pending.begin(), pending.begin() + static_cast<long>(length));
            pending.erase(pending.begin(), pending.begin() + static_cast<long>(length));
            Serve(frame);
        }
    }
}

void PtyPeer::Serve(const Bytes& frame)
{
    Responder responder;
    {
        std::lock_guard lock(m_mutex);
        m_frames.push_back(frame);
        responder = m_responder;
    }
    if (!responder)
        return;
    PeerReply reply = responder(frame);
    if (reply.delay.count() > 0)
        std::this_thread::sleep_for(reply.delay);
    if (!reply.bytes.empty() && m_master.load() >= 0) {
        std::size_t written = 0;
        while (written < reply.bytes.size()) {
            ssize_t put = ::write(m_master, reply.bytes.data() + written, reply.bytes.size() - written);
            if (put > 0)
                written += static_cast<std::size_t>(put);
            else if (put < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
    }
    if (reply.hangUp)
        HangUp();
}

} // namespace orvex::test
