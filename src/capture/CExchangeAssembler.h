#pragma once

#include "capture/WireFrame.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <span>
#include <vector>

namespace orvex {

// Turns bytes heard on the bus into exchanges: each port and direction is
// cut into frames by the frame grammar (sync, length, check code), with a
// silence on the line as the fallback that ends an unfinished frame; the
// frames then make exchanges (command, reply or the failure in its place,
// the controller's ACK or NAK). Bytes may come in any split. Nothing is
// dropped: noise, frames with a wrong check code, truncated frames and
// replies nobody asked for come out as stray frames.
//
// With WireDirection::Unknown (one receiver hearing both sides) the
// exchange tells who spoke: a frame while a command waits for its reply is
// the reply when it comes from the commanded address and is not the
// command again; an ACK or NAK after a reply is the controller's; outside
// an exchange a frame that names no command is a reply nobody asked for.
class CExchangeAssembler {
public:
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    struct Settings {
        // A silence this long inside a frame ends it (as truncated).
        std::int64_t gapNs { kNever };
        // A command unanswered this long closes as a time-out; an answered
        // exchange waits this long for the controller's ACK or NAK.
        std::int64_t replyWindowNs { kNever };
        // Taps read side by side (a tap cable) may be read late and out of
        // turn: their frames are then held until Idle and taken in the
        // order the exchange asks for (the reply before the next command).
        bool holdForIdle { false };
    };

    explicit CExchangeAssembler(CExchangeListener& listener);
    CExchangeAssembler(CExchangeListener& listener, Settings settings);

    // Bytes heard on `port` going `direction`, the first of them at `timeNs`.
    void Feed(int port, WireDirection direction, std::int64_t timeNs, std::span<const std::uint8_t> bytes);
    // One packet of a capture file: a frame as it was cut when recorded,
    // so nothing of it waits for the next packet.
    void FeedPacket(int port, WireDirection direction, std::int64_t timeNs, std::span<const std::uint8_t> bytes);
    void Event(const WireEvent& event);
    // The time now, or the last time the source looked at its lines and
    // found nothing more: ends frames that stayed unfinished for the gap
    // and exchanges that waited past their window.
    void Idle(std::int64_t nowNs);
    // Ends everything held: unfinished frames come out truncated, an open
    // exchange closes as it stands.
    void Finish();

private:
    enum class State : std::uint8_t { Idle, AwaitReply, AwaitAcknowledgement };

    struct Stream {
        int port { 0 };
        WireDirection direction { WireDirection::Unknown };
        // Bytes heard and not yet cut into a frame are bytes[start..]: frames
        // are cut by moving `start`, and what was cut is dropped only once it
        // outweighs what is held, so a long run costs once per byte.
        std::vector<std::uint8_t> bytes;
        std::size_t start { 0 };
        std::int64_t firstTimeNs { 0 }; // time of bytes[start]
        std::int64_t lastTimeNs { 0 };  // time of the last chunk
        std::deque<WireFrame> held;     // frames cut but not yet taken (holdForIdle)
        std::size_t scanned { 0 };      // noise looked through for a sync byte so far

        bool Empty() const { return start == bytes.size(); }
        std::span<const std::uint8_t> Pending() const { return std::span(bytes).subspan(start); }
    };

    Stream& StreamFor(int port, WireDirection direction);
    // Cuts whole frames (and noise before a sync byte) off the front.
    void Split(Stream& stream);
    // The bytes held, as one truncated frame or noise.
    void GiveUp(Stream& stream);
    void Emit(Stream& stream, std::size_t count, WireFrameKind kind);
    // Takes the held frames of the taps in the order the exchange asks for.
    void TakeHeld(std::int64_t nowNs);
    void OnFrame(WireFrame&& frame);
    WireDirection Resolve(const WireFrame& frame) const;
    void Open(WireFrame&& command);
    void Close(int result);
    void Stray(WireFrame&& frame);

    CExchangeListener& m_listener;
    Settings m_settings;
    std::vector<Stream> m_streams;
    State m_state { State::Idle };
    WireExchange m_exchange;
    WireExchange m_stray;
    // Byte storage of frames already given out, for the next frames cut: a
    // busy bus would otherwise allocate for every frame.
    std::vector<std::vector<std::uint8_t>> m_spares;
    void Reuse(std::vector<WireFrame>& frames);
    std::int64_t m_lastFrameNs { 0 };
};

} // namespace orvex
