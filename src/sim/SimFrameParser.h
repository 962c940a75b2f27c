#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvex {

using SimBytes = std::vector<std::uint8_t>;

// The host sends short frames only; anything claiming more is noise.
inline constexpr std::size_t kSimMaxCommandFrame = 255;

struct SimFrameScan {
    std::vector<SimBytes> frames; // whole frames with a valid check code
    std::size_t consumed { 0 };   // leading bytes no longer needed
    std::size_t skipped { 0 };    // of those, bytes thrown away as noise
};

// Finds every complete frame in `data`, resynchronising at the next 0x02
// after noise, a bad length or a bad check code. An unfinished frame at
// the end is left unconsumed, unless a complete frame starts after its
// sync byte (then the unfinished one was noise). Pure; never reads past
// `size`.
SimFrameScan ScanFrames(const std::uint8_t* data, std::size_t size);

// Incremental form for a line: keeps the unfinished tail and drops it
// after a gap of silence, so a truncated frame never blocks the next one.
class CSimFrameParser {
public:
    using Clock = std::chrono::steady_clock;

    explicit CSimFrameParser(std::chrono::milliseconds gap = std::chrono::milliseconds(50));

    std::vector<SimBytes> Feed(const std::uint8_t* data, std::size_t size, Clock::time_point now);
    // Drops an unfinished frame once the line has been silent for the gap.
    void Idle(Clock::time_point now);

    std::size_t Pending() const { return m_pending.size(); }
    std::uint64_t SkippedBytes() const { return m_skipped; }

private:
    std::chrono::milliseconds m_gap;
    SimBytes m_pending;
    Clock::time_point m_lastByte {};
    std::uint64_t m_skipped { 0 };
};

} // namespace orvex
