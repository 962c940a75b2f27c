#pragma once

#include "link/CCommand.h"
#include "link/Frame.h"
#include "link/WireVocabulary.h"

#include <cstdint>
#include <string>
#include <utility>

namespace orvex {

// Read access to a reply frame that never leaves it. Fields are read from
// the data area, bytes 3 .. L-3; a field that lies past it (a reply shorter
// than the command expects) reads as zero, so the check code is never
// taken for data. A reply with a non-zero status has no bytes at all.
class CReplyView {
public:
    // Keeps its own copy: most callers hand it the temporary that Execute
    // returns, which is gone before the fields are read.
    explicit CReplyView(CCommand reply)
        : m_reply(std::move(reply))
        , m_bytes(m_reply.GetStatus() == 0 ? m_reply.GetBytes() : nullptr)
        , m_length(m_bytes ? m_reply.GetLength() : 0)
    {
    }
    CReplyView(const CReplyView&) = delete;
    CReplyView& operator=(const CReplyView&) = delete;

    bool HasFrame() const { return m_length >= kShortestFrame; }
    // L, the frame's total length (0 without a frame).
    int Length() const { return HasFrame() ? m_length : 0; }
    bool IsLongFrame() const { return HasFrame() && m_bytes[2] == wire::kLongFormMark; }

    // The bare six-byte invalid-command reply (0x30).
    bool IsInvalidCommand() const
    {
        return HasFrame() && m_bytes[2] == kShortestFrame && m_bytes[3] == wire::kInvalidCommand;
    }

    bool InData(int offset) const { return HasFrame() && offset >= 3 && offset <= m_length - 3; }

    std::uint8_t Byte(int offset) const
    {
        return InData(offset) ? m_bytes[offset] : 0;
    }

    // Any byte of the frame, check code included; 0 outside it.
    std::uint8_t FrameByte(int offset) const
    {
        return HasFrame() && offset >= 0 && offset < m_length ? m_bytes[offset] : 0;
    }

    // A number of `width` bytes, high byte first.
    std::uint32_t Number(int offset, int width) const
    {
        std::uint32_t value = 0;
        for (int i = 0; i < width; ++i)
            value = value << 8 | Byte(offset + i);
        return value;
    }

    // At most `maximum` characters from `offset`, up to the first zero byte
    // or the end of the data.
    std::string Text(int offset, int maximum) const
    {
        std::string text;
        for (int i = 0; i < maximum && InData(offset + i) && m_bytes[offset + i] != 0; ++i)
            text.push_back(static_cast<char>(m_bytes[offset + i]));
        return text;
    }

    const std::uint8_t* Bytes() const { return m_bytes; }

private:
    CCommand m_reply;
    const std::uint8_t* m_bytes;
    int m_length;
};

} // namespace orvex
