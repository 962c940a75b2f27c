#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

// Who put a frame on the bus. The tool itself is the controller when it
// sends commands; a watched bus has a real controller.
enum class WireDirection : std::uint8_t { FromController, FromDevice, Unknown };

// What the frame grammar made of a run of bytes.
enum class WireFrameKind : std::uint8_t {
    Frame,        // sync, length and check code agree
    BadCheckCode, // a frame of the length it announced whose check code is wrong
    Truncated,    // a frame start that the line left unfinished
    Noise,        // bytes that cannot start a frame
};

// One frame (or run of bytes standing in its place) with its direction,
// the port or tap it was heard on, and the wall-clock time (ns since the
// epoch) of its first byte.
struct WireFrame {
    WireDirection direction { WireDirection::Unknown };
    WireFrameKind kind { WireFrameKind::Frame };
    int port { 0 };
    std::int64_t timeNs { 0 };
    std::vector<std::uint8_t> bytes;
};

enum class WireExchangeKind : std::uint8_t {
    Exchange, // a command with whatever answered it
    Stray,    // one frame outside any exchange: noise, a reply nobody asked for, ...
};

// A command, its reply (or the failure in its place) and the controller's
// ACK or NAK, as the exchange log writes them.
struct WireExchange {
    WireExchangeKind kind { WireExchangeKind::Exchange };
    std::vector<WireFrame> frames;
    std::string name;      // log name of the command; empty when unknown
    int address { -1 };    // bus address of the command; -1 for noise
    int result { 0 };      // 0, or the result code of the exchange (Timeout, CRC error...)
    std::int64_t TimeNs() const { return frames.empty() ? 0 : frames.front().timeNs; }
    int Port() const { return frames.empty() ? 0 : frames.front().port; }
};

// Something that happened to a port: opened, speed changed, bus reset,
// time-out, device disconnected.
struct WireEvent {
    int port { 0 };
    std::int64_t timeNs { 0 };
    std::string text;
};

// How a live source (monitor, relay) ended.
enum class WireEnd : std::uint8_t { Stopped, PortLost };

// Where assembled exchanges go. Called on the assembling thread.
class CExchangeListener {
public:
    virtual ~CExchangeListener() = default;
    virtual void OnExchange(const WireExchange& exchange) = 0;
    virtual void OnEvent(const WireEvent& event) = 0;
};

} // namespace orvex
