#include "sim/SimFrameParser.h"

#include "link/Frame.h"
#include "link/WireVocabulary.h"

namespace orvex {

namespace {

enum class Candidate { Frame, Incomplete, Bad };

// Judges the bytes from `start` as one frame; `length` is set for a frame.
Candidate Judge(const std::uint8_t* data, std::size_t size, std::size_t start, std::size_t& length)
{
    std::span<const std::uint8_t> bytes(data + start, size - start);
    if (bytes.size() > 2 && bytes[2] == wire::kLongFormMark)
        return Candidate::Bad; // long form: never sent by a host
    int frameLength = 0;
    switch (JudgeFrame(bytes, frameLength)) {
    case FrameVerdict::Whole:
        length = static_cast<std::size_t>(frameLength);
        return Candidate::Frame;
    case FrameVerdict::NeedMore:
        return Candidate::Incomplete;
    default:
        return Candidate::Bad;
    }
}

// A complete, valid frame starting somewhere after `start`, if any.
bool CompleteFrameAfter(const std::uint8_t* data, std::size_t size, std::size_t start, std::size_t& found)
{
    for (std::size_t at = start + 1; at < size; ++at) {
        if (data[at] != wire::kSync)
            continue;
        std::size_t length = 0;
        if (Judge(data, size, at, length) == Candidate::Frame) {
            found = at;
            return true;
        }
    }
    return false;
}

} // namespace

SimFrameScan ScanFrames(const std::uint8_t* data, std::size_t size)
{
    SimFrameScan scan;
    std::size_t at = 0;
    while (at < size) {
        if (data[at] != wire::kSync) {
            ++at;
            ++scan.skipped;
            continue;
        }
        std::size_t length = 0;
        Candidate candidate = Judge(data, size, at, length);
        if (candidate == Candidate::Frame) {
            scan.frames.emplace_back(data + at, data + at + length);
            at += length;
            continue;
        }
        if (candidate == Candidate::Bad) {
            ++at;
            ++scan.skipped;
            continue;
        }
        std::size_t next = 0;
        if (CompleteFrameAfter(data, size, at, next)) {
            scan.skipped += next - at;
            at = next;
            continue;
        }
        break; // wait for the rest of this frame
    }
    scan.consumed = at;
    return scan;
}

CSimFrameParser::CSimFrameParser(std::chrono::milliseconds gap)
    : m_gap(gap)
{
}

std::vector<SimBytes> CSimFrameParser::Feed(const std::uint8_t* data, std::size_t size, Clock::time_point now)
{
    Idle(now);
    if (size == 0)
        return {};
    m_lastByte = now;
    m_pending.insert(m_pending.end(), data, data + size);
    SimFrameScan scan = ScanFrames(m_pending.data(), m_pending.size());
    m_skipped += scan.skipped;
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(scan.consumed));
    // An unfinished frame never grows past the longest frame a host sends.
    if (m_pending.size() > kSimMaxCommandFrame) {
        m_skipped += m_pending.size();
        m_pending.clear();
    }
    return std::move(scan.frames);
}

void CSimFrameParser::Idle(Clock::time_point now)
{
    if (!m_pending.empty() && now - m_lastByte >= m_gap) {
        m_skipped += m_pending.size();
        m_pending.clear();
    }
}

} // namespace orvex
