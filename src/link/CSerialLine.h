#pragma once

#include "link/LineMode.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace orvex {

enum class FlushDirection { Input, Both };
enum class RtsLevel { Low, High };

// Why a read, a write or a modem-line command did not complete.
enum class LineFault {
    None,
    Timeout,            // the deadline passed; the line itself is fine
    HungUp,             // the other end hung up; the device is still there
    DeviceRemoved,      // the device node went away (adapter unplugged)
    IoError,            // the system call failed; `error` holds errno
    ConnectionLost,     // a network line's connection closed or reset
    ConnectionRefused,  // a network line's server would not take us
    Unconfirmed,        // a remote end did not confirm a modem-line command
};

// What a line operation did: bytes moved, and the cause when it fell short.
struct LineResult {
    LineFault fault { LineFault::None };
    int error { 0 };        // errno behind the fault, when there is one
    int transferred { 0 };  // bytes read or written, complete or not

    bool Complete() const { return fault == LineFault::None; }
};

// A few words for the operator: "device disconnected", "timeout",
// "Input/output error", ...; empty for LineFault::None.
std::string DescribeLineFault(const LineResult& result);
// True for faults after which the line will not carry bytes again until
// it is opened anew (as opposed to a time-out or an unconfirmed command).
bool IsLineGone(LineFault fault);

// The seam under the serial port: what the port needs from a line,
// whatever carries it. Open and Configure return errno values (0 = success).
class CSerialLine {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    virtual ~CSerialLine() = default;

    virtual int Open(const std::string& path) = 0;
    virtual int Configure(const LineMode& mode) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Reads exactly `count` bytes before the deadline, or says why not;
    // `transferred` tells how many arrived. A hang-up ends the read at once.
    virtual LineResult ReadAll(std::uint8_t* buffer, int count, Deadline deadline) = 0;
    virtual LineResult WriteAll(const std::uint8_t* buffer, int count, Deadline deadline) = 0;
    virtual void Flush(FlushDirection direction) = 0;
    // Unconfirmed when a remote end did not acknowledge the change.
    virtual LineResult SetRts(RtsLevel level) = 0;
    // A descriptor that polls readable when bytes (or a hang-up) arrive.
    virtual int Handle() const = 0;
};

// Chooses the line for a path: tcp:// and rfc2217:// names are network
// lines, anything else a tty.
std::unique_ptr<CSerialLine> MakeSerialLine(const std::string& path);

} // namespace orvex
