#include "link/CMemoryLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvex {

CMemoryLine::CMemoryLine(MemoryArrival arrival)
    : m_arrival(arrival)
{
}

int CMemoryLine::Open(const std::string& path)
{
    // A slot without a path has no line, in memory as on a machine.
    if (path.empty())
        return ENOENT;
    std::lock_guard lock(m_mutex);
    m_open = true;
    m_hungUp = false;
    return 0;
}

int CMemoryLine::Configure(const LineMode&)
{
    std::lock_guard lock(m_mutex);
    return m_open ? 0 : EBADF;
}

void CMemoryLine::Close()
{
    std::lock_guard lock(m_mutex);
    m_open = false;
    m_queue.clear();
    m_offset = 0;
    m_arrived.notify_all();
}

bool CMemoryLine::IsOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_open;
}

LineResult CMemoryLine::ReadAll(std::uint8_t* buffer, int count, Deadline deadline)
{
    LineResult result;
    int& received = result.transferred;
    std::unique_lock lock(m_mutex);
    if (!m_open || count < 0 || (buffer == nullptr && count > 0))
        return { LineFault::IoError, EBADF, 0 };
    while (received < count) {
        if (m_queue.empty()) {
            if (m_hungUp)
                return { LineFault::HungUp, 0, received };
            // Nothing more can come before the deadline: it has passed.
            if (m_arrival == MemoryArrival::Queued)
                return { LineFault::Timeout, 0, received };
            bool woken = m_arrived.wait_until(lock, deadline, [this] { return !m_queue.empty() || !m_open || m_hungUp; });
            if (!m_open)
                return { LineFault::IoError, EBADF, received };
            if (!woken)
                return { LineFault::Timeout, 0, received };
            continue;
        }
        Piece& piece = m_queue.front();
        if (piece.empty()) {
            m_queue.pop_front(); // the silence outlasts the read
            return { LineFault::Timeout, 0, received };
        }
        std::size_t take = std::min(piece.size() - m_offset, static_cast<std::size_t>(count - received));
        std::memcpy(buffer + received, piece.data() + m_offset, take);
        received += static_cast<int>(take);
        m_offset += take;
        if (m_offset == piece.size()) {
            m_queue.pop_front();
            m_offset = 0;
        }
    }
    return result;
}

LineResult CMemoryLine::WriteAll(const std::uint8_t* buffer, int count, Deadline)
{
    Peer peer;
    LineFault fault = LineFault::None;
    {
        std::lock_guard lock(m_mutex);
        if (!m_open || count < 0 || (buffer == nullptr && count > 0))
            return { LineFault::IoError, EBADF, 0 };
        if (m_hungUp)
            return { LineFault::HungUp, 0, 0 };
        peer = m_peer;
        if (!peer)
            m_writes.emplace_back(buffer, buffer + count);
        fault = m_writeFault;
    }
    // Outside the lock: the peer answers through Arrive().
    if (peer)
        peer(buffer, count);
    if (fault != LineFault::None)
        return { fault, fault == LineFault::IoError ? EIO : 0, 0 };
    return { LineFault::None, 0, count };
}

void CMemoryLine::Flush(FlushDirection)
{
    // Nothing waits to go out: a write hands its bytes over at once.
    std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_offset = 0;
}

LineResult CMemoryLine::SetRts(RtsLevel level)
{
    std::lock_guard lock(m_mutex);
    m_rts = level;
    return {};
}

void CMemoryLine::SetPeer(Peer peer)
{
    std::lock_guard lock(m_mutex);
    m_peer = std::move(peer);
}

void CMemoryLine::Arrive(const std::uint8_t* bytes, std::size_t count)
{
    if (count == 0)
        return;
    {
        std::lock_guard lock(m_mutex);
        // Bytes right after bytes are one burst.
        if (!m_queue.empty() && !m_queue.back().empty())
            m_queue.back().insert(m_queue.back().end(), bytes, bytes + count);
        else
            m_queue.emplace_back(bytes, bytes + count);
    }
    m_arrived.notify_all();
}

void CMemoryLine::Silence()
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.emplace_back();
    }
    m_arrived.notify_all();
}

void CMemoryLine::SetWriteFault(LineFault fault)
{
    std::lock_guard lock(m_mutex);
    m_writeFault = fault;
}

void CMemoryLine::HangUp()
{
    {
        std::lock_guard lock(m_mutex);
        m_hungUp = true;
    }
    m_arrived.notify_all();
}

std::vector<std::vector<std::uint8_t>> CMemoryLine::Writes() const
{
    std::lock_guard lock(m_mutex);
    return m_writes;
}

void CMemoryLine::ClearWrites()
{
    std::lock_guard lock(m_mutex);
    m_writes.clear();
}

RtsLevel CMemoryLine::Rts() const
{
    std::lock_guard lock(m_mutex);
    return m_rts;
}

} // namespace orvex
