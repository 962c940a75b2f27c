#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace orvex {

// Which way bytes went through a port, as the port sees it.
enum class TapDirection : std::uint8_t { Written, Read };

// Told about every byte a port writes or reads, with the wall-clock time
// (CLOCK_REALTIME, ns) taken next to the system call, and about what
// happens to the line. Called on the thread that uses the port; must not
// block for long.
class CLineTap {
public:
    virtual ~CLineTap() = default;

    virtual void OnBytes(TapDirection direction, std::int64_t timeNs, std::span<const std::uint8_t> bytes) = 0;
    // "opened at 19200,n,8,1", "RTS raised", "read time-out", ...
    virtual void OnLineEvent(std::int64_t timeNs, std::string_view text) = 0;
};

// Wall-clock time in ns since the epoch, CLOCK_REALTIME.
std::int64_t WallClockNanoseconds();

} // namespace orvex
