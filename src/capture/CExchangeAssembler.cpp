#include "capture/CExchangeAssembler.h"

#include "link/CheckCode.h"
#include "link/Frame.h"
#include "link/WireVocabulary.h"
#include "protocol/ResultCodes.h"

#include <algorithm>
#include <utility>

namespace orvex {

namespace {

bool IsAcknowledgement(const WireFrame& frame)
{
    return frame.kind == WireFrameKind::Frame && frame.bytes.size() == 6 && frame.bytes[2] == 6
        && (frame.bytes[3] == wire::kAck || frame.bytes[3] == wire::kNak);
}

int AddressOf(const WireFrame& frame)
{
    return frame.kind != WireFrameKind::Noise && frame.bytes.size() > 1 ? frame.bytes[1] : -1;
}

} // namespace

CExchangeAssembler::CExchangeAssembler(CExchangeListener& listener)
    : CExchangeAssembler(listener, Settings {})
{
}

CExchangeAssembler::CExchangeAssembler(CExchangeListener& listener, Settings settings)
    : m_listener(listener)
    , m_settings(settings)
{
    // The controller's side, the unit's and one shared line, on one port or two.
    m_streams.reserve(4);
}

void CExchangeAssembler::Reuse(std::vector<WireFrame>& frames)
{
    // An exchange has a command, a reply and an ACK; more spares than a few
    // exchanges' worth would only hold memory.
    constexpr std::size_t kMostSpares = 8;
    for (WireFrame& frame : frames) {
        if (m_spares.size() < kMostSpares)
            m_spares.push_back(std::move(frame.bytes));
    }
    frames.clear();
}

CExchangeAssembler::Stream& CExchangeAssembler::StreamFor(int port, WireDirection direction)
{
    for (Stream& stream : m_streams) {
        if (stream.port == port && stream.direction == direction)
            return stream;
    }
    m_streams.push_back(Stream { port, direction, {}, 0, 0, 0, {}, 0 });
    return m_streams.back();
}

void CExchangeAssembler::Feed(int port, WireDirection direction, std::int64_t timeNs, std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return;
    // Only one side speaks at a time: once the other side speaks, what this
    // side left unfinished is all there will be of it. (Taps read out of
    // turn cannot tell; their frames wait for Idle instead.)
    if (direction != WireDirection::Unknown && !m_settings.holdForIdle) {
        for (std::size_t index = 0; index < m_streams.size(); ++index) {
            if (m_streams[index].direction != direction && m_streams[index].direction != WireDirection::Unknown
                && !m_streams[index].Empty())
                GiveUp(m_streams[index]);
        }
    }
    Stream& current = StreamFor(port, direction);
    if (current.Empty())
        current.firstTimeNs = timeNs;
    current.lastTimeNs = timeNs;
    current.bytes.insert(current.bytes.end(), bytes.begin(), bytes.end());
    Split(current);
}

void CExchangeAssembler::FeedPacket(int port, WireDirection direction, std::int64_t timeNs, std::span<const std::uint8_t> bytes)
{
    Feed(port, direction, timeNs, bytes);
    Stream& stream = StreamFor(port, direction);
    while (!stream.Empty())
        GiveUp(stream);
}

void CExchangeAssembler::Split(Stream& stream)
{
    for (;;) {
        const std::span<const std::uint8_t> bytes = stream.Pending();
        if (bytes.empty())
            return;
        int length = 0;
        const FrameVerdict verdict = JudgeFrame(bytes, length);
        switch (verdict) {
        case FrameVerdict::NeedMore:
            return;
        case FrameVerdict::Whole:
            Emit(stream, static_cast<std::size_t>(length), WireFrameKind::Frame);
            break;
        case FrameVerdict::BadCheckCode:
            Emit(stream, static_cast<std::size_t>(length), WireFrameKind::BadCheckCode);
            break;
        case FrameVerdict::BadSync:
        case FrameVerdict::BadLength: {
            // Noise runs to the next sync byte; while none has come, more
            // noise may follow, so it waits (for a sync byte, the gap or the end).
            // Bytes already looked through are not looked through again, so a
            // long run of noise costs once per byte.
            const auto next = std::find(bytes.begin() + static_cast<std::ptrdiff_t>(std::max<std::size_t>(1, stream.scanned)), bytes.end(), wire::kSync);
            if (next == bytes.end()) {
                stream.scanned = bytes.size();
                return;
            }
            const std::size_t count = static_cast<std::size_t>(next - bytes.begin());
            Emit(stream, count, verdict == FrameVerdict::BadSync ? WireFrameKind::Noise : WireFrameKind::Truncated);
            break;
        }
        }
    }
}

void CExchangeAssembler::GiveUp(Stream& stream)
{
    // A frame start cut short, or noise; either way all of it is shown.
    const std::span<const std::uint8_t> bytes = stream.Pending();
    const WireFrameKind kind = bytes.front() == wire::kSync ? WireFrameKind::Truncated : WireFrameKind::Noise;
    Emit(stream, bytes.size(), kind);
}

void CExchangeAssembler::Emit(Stream& stream, std::size_t count, WireFrameKind kind)
{
    WireFrame frame;
    frame.direction = stream.direction;
    frame.kind = kind;
    frame.port = stream.port;
    frame.timeNs = stream.firstTimeNs;
    const std::span<const std::uint8_t> cut = stream.Pending().first(count);
    if (!m_spares.empty()) {
        frame.bytes = std::move(m_spares.back());
        m_spares.pop_back();
    }
    frame.bytes.assign(cut.begin(), cut.end());
    stream.start += count;
    if (stream.Empty()) {
        stream.bytes.clear();
        stream.start = 0;
    } else if (stream.start >= stream.bytes.size() - stream.start) {
        stream.bytes.erase(stream.bytes.begin(), stream.bytes.begin() + static_cast<std::ptrdiff_t>(stream.start));
        stream.start = 0;
    }
    stream.scanned = 0;
    // The rest arrived with the chunk that finished this frame, or later.
    stream.firstTimeNs = stream.lastTimeNs;
    if (m_settings.holdForIdle && stream.direction != WireDirection::Unknown)
        stream.held.push_back(std::move(frame));
    else
        OnFrame(std::move(frame));
}

void CExchangeAssembler::TakeHeld(std::int64_t nowNs)
{
    auto find = [this](WireDirection direction, bool held) -> Stream* {
        for (Stream& stream : m_streams) {
            if (stream.direction == direction && (held ? !stream.held.empty() : !stream.Empty()))
                return &stream;
        }
        return nullptr;
    };
    for (;;) {
        Stream* controller = find(WireDirection::FromController, true);
        Stream* device = find(WireDirection::FromDevice, true);
        if (!controller && !device)
            return;
        bool fromDevice = controller == nullptr || (device != nullptr && m_state == State::AwaitReply);
        if (!fromDevice && m_state == State::AwaitReply) {
            // The controller spoke again while a reply may still be coming
            // in: it waits until the reply is whole or the gap has passed.
            if (Stream* unfinished = find(WireDirection::FromDevice, false)) {
                if (m_settings.gapNs != kNever && nowNs - unfinished->lastTimeNs <= m_settings.gapNs)
                    return;
                GiveUp(*unfinished);
                continue;
            }
        }
        Stream& from = fromDevice ? *device : *controller;
        WireFrame frame = std::move(from.held.front());
        from.held.pop_front();
        OnFrame(std::move(frame));
    }
}

WireDirection CExchangeAssembler::Resolve(const WireFrame& frame) const
{
    if (frame.direction != WireDirection::Unknown)
        return frame.direction;
    if (m_state == State::AwaitReply) {
        const WireFrame& command = m_exchange.frames.front();
        if (frame.kind != WireFrameKind::Frame)
            return WireDirection::FromDevice;
        if (AddressOf(frame) == m_exchange.address && frame.bytes != command.bytes)
            return WireDirection::FromDevice;
        return WireDirection::FromController;
    }
    if (frame.kind == WireFrameKind::Noise)
        return WireDirection::Unknown;
    // Outside an exchange a frame that names no command is a reply nobody
    // asked for; the controller's ACK or NAK after a reply is the controller's.
    if (frame.kind == WireFrameKind::Frame && !IsAcknowledgement(frame) && wire::CommandLogName(frame.bytes).empty()
        && m_state == State::Idle)
        return WireDirection::FromDevice;
    return WireDirection::FromController;
}

void CExchangeAssembler::OnFrame(WireFrame&& incoming)
{
    WireFrame frame = std::move(incoming);
    frame.direction = Resolve(frame);
    m_lastFrameNs = frame.timeNs;
    switch (m_state) {
    case State::Idle:
        if (frame.direction == WireDirection::FromController && frame.kind == WireFrameKind::Frame && !IsAcknowledgement(frame))
            Open(std::move(frame));
        else
            Stray(std::move(frame));
        return;
    case State::AwaitReply:
        if (frame.direction != WireDirection::FromDevice) {
            Close(kTimeout);
            OnFrame(std::move(frame));
            return;
        }
        switch (frame.kind) {
        case WireFrameKind::Frame: {
            const bool acknowledgement = IsAcknowledgement(frame);
            m_exchange.frames.push_back(std::move(frame));
            // A bare ACK or NAK of the unit ends the exchange: the
            // controller answers neither.
            if (acknowledgement)
                Close(kOk);
            else
                m_state = State::AwaitAcknowledgement;
            return;
        }
        case WireFrameKind::BadCheckCode: m_exchange.result = kCrcError; break;
        case WireFrameKind::Truncated: m_exchange.result = kDataError; break;
        case WireFrameKind::Noise: m_exchange.result = kSynchronizationError; break;
        }
        m_exchange.frames.push_back(std::move(frame));
        m_state = State::AwaitAcknowledgement;
        return;
    case State::AwaitAcknowledgement:
        if (frame.direction == WireDirection::FromController && IsAcknowledgement(frame)
            && AddressOf(frame) == m_exchange.address) {
            m_exchange.frames.push_back(std::move(frame));
            Close(m_exchange.result);
            return;
        }
        Close(m_exchange.result);
        OnFrame(std::move(frame));
        return;
    }
}

void CExchangeAssembler::Open(WireFrame&& command)
{
    // The last exchange's storage is written over: a busy bus makes an
    // exchange every few milliseconds.
    m_exchange.kind = WireExchangeKind::Exchange;
    m_exchange.address = AddressOf(command);
    m_exchange.name.assign(wire::CommandLogName(command.bytes));
    m_exchange.result = kOk;
    Reuse(m_exchange.frames);
    m_exchange.frames.push_back(std::move(command));
    m_state = State::AwaitReply;
}

void CExchangeAssembler::Close(int result)
{
    m_exchange.result = result;
    m_state = State::Idle;
    m_listener.OnExchange(m_exchange);
}

void CExchangeAssembler::Stray(WireFrame&& frame)
{
    WireExchange& stray = m_stray;
    stray.kind = WireExchangeKind::Stray;
    stray.address = AddressOf(frame);
    stray.result = kOk;
    stray.name.clear();
    if (frame.kind == WireFrameKind::Frame && frame.direction == WireDirection::FromController)
        stray.name.assign(wire::CommandLogName(frame.bytes));
    stray.frames.clear();
    stray.frames.push_back(std::move(frame));
    m_listener.OnExchange(stray);
    Reuse(stray.frames);
}

void CExchangeAssembler::Event(const WireEvent& event) { m_listener.OnEvent(event); }

void CExchangeAssembler::Idle(std::int64_t nowNs)
{
    if (m_settings.gapNs != kNever) {
        for (std::size_t index = 0; index < m_streams.size(); ++index) {
            Stream& stream = m_streams[index];
            if (!stream.Empty() && nowNs - stream.lastTimeNs > m_settings.gapNs)
                GiveUp(m_streams[index]);
        }
    }
    TakeHeld(nowNs);
    if (m_state != State::Idle && m_settings.replyWindowNs != kNever && nowNs - m_lastFrameNs > m_settings.replyWindowNs)
        Close(m_state == State::AwaitReply ? kTimeout : m_exchange.result);
}

void CExchangeAssembler::Finish()
{
    for (std::size_t index = 0; index < m_streams.size(); ++index) {
        while (!m_streams[index].Empty())
            GiveUp(m_streams[index]);
    }
    TakeHeld(kNever);
    if (m_state != State::Idle)
        Close(m_state == State::AwaitReply ? kTimeout : m_exchange.result);
}

} // namespace orvex
