#pragma once

#include "link/CSerialLine.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace orvex {

// Where a memory line's bytes come from.
enum class MemoryArrival {
    // Only what was queued before the read: a read that runs dry ends at
    // once as a time-out, as it would at its deadline, without sleeping.
    Queued,
    // Also from another thread while a read waits: a read that runs dry
    // waits for more until its deadline.
    AnyThread,
};

// A line in memory: bytes in, bytes out, no kernel. Tests and fuzz targets
// queue what the far end sends (with silences between bursts) and see
// what the host wrote; a peer told of every write can answer at once,
// which makes a whole exchange one call deep.
class CMemoryLine final : public CSerialLine {
public:
    // Told of each block the host writes, before the write returns.
    using Peer = std::function<void(const std::uint8_t* bytes, int count)>;

    explicit CMemoryLine(MemoryArrival arrival = MemoryArrival::Queued);

    int Open(const std::string& path) override;
    int Configure(const LineMode& mode) override;
    void Close() override;
    bool IsOpen() const override;
    LineResult ReadAll(std::uint8_t* buffer, int count, Deadline deadline) override;
    LineResult WriteAll(const std::uint8_t* buffer, int count, Deadline deadline) override;
    void Flush(FlushDirection direction) override;
    LineResult SetRts(RtsLevel level) override;
    // No descriptor: nothing to poll.
    int Handle() const override { return -1; }

    void SetPeer(Peer peer);
    // Bytes for the host, after whatever is queued.
    void Arrive(const std::uint8_t* bytes, std::size_t count);
    void Arrive(const std::vector<std::uint8_t>& bytes) { Arrive(bytes.data(), bytes.size()); }
    // A pause longer than any read time-out after what is queued: a read
    // that reaches it ends there as a time-out, and the next read goes on
    // after it.
    void Silence();
    // From now on every write fails with this fault (its bytes are still
    // seen); LineFault::None lets them succeed again.
    void SetWriteFault(LineFault fault);
    // The far end hangs up: once what is queued is read, reads end with
    // LineFault::HungUp, and writes fail the same way.
    void HangUp();
    // Every block the host wrote, in order, while no peer was set (a peer
    // sees them itself).
    std::vector<std::vector<std::uint8_t>> Writes() const;
    void ClearWrites();
    RtsLevel Rts() const;

private:
    // One queued piece: bytes, or a silence when empty.
    using Piece = std::vector<std::uint8_t>;

    const MemoryArrival m_arrival;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<Piece> m_queue;
    std::size_t m_offset { 0 }; // into the front piece
    std::vector<std::vector<std::uint8_t>> m_writes;
    Peer m_peer;
    bool m_open { false };
    LineFault m_writeFault { LineFault::None };
    bool m_hungUp { false };
    RtsLevel m_rts { RtsLevel::Low };
};

} // namespace orvex
