#pragma once

#include "link/LineMode.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace orvex {

enum class FlushDirection { Input, Both };

// The seam under the serial port: what the port needs from a line,
// whatever carries it. Errors are errno values (0 = success).
class CSerialLine {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    virtual ~CSerialLine() = default;

    virtual int Open(const std::string& path) = 0;
    virtual int Configure(const LineMode& mode) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Reads exactly `count` bytes before the deadline; `received` tells how
    // many arrived. A hang-up ends the read at once.
    virtual bool ReadAll(std::uint8_t* buffer, int count, Deadline deadline, int& received) = 0;
    virtual bool WriteAll(const std::uint8_t* buffer, int count, Deadline deadline) = 0;
    virtual void Flush(FlushDirection direction) = 0;
    virtual void SetRts(bool raised) = 0;
    virtual int Handle() const = 0;
};

// Chooses the line for a path; every path is a tty for now.
std::unique_ptr<CSerialLine> MakeSerialLine(const std::string& path);

} // namespace orvex
