#pragma once

#include "link/CCOMPort.h"

#include <cstdint>
#include <deque>
#include <string_view>
#include <vector>

namespace orvex::fuzz {

using Bytes = std::vector<std::uint8_t>;

// A serial port that plays back scripted replies instead of a line.
//
// Each reply is a list of bursts: bytes that arrive back to back, followed
// by a silence longer than any read time-out. A read takes bytes from the
// current burst; meeting the silence before it has all it wants fails the
// read, as the time-out would, with the bytes that came left in the buffer.
// Every command the host writes (anything but its six-byte ACK or NAK)
// makes the next scripted reply the current one: what was left of the old
// one is what the purge before the write would have thrown away.
class CFuzzPort final : public CCOMPort {
public:
    using Reply = std::vector<Bytes>;

    CFuzzPort();

    int Open(int portIndex, const char* mode, int readTimeoutConstant) override;
    int Read(std::uint8_t* buffer, int count) override;
    int Write(const std::uint8_t* buffer, int count) override;

    void AddReply(Reply reply) { m_replies.push_back(std::move(reply)); }
    void ClearReplies();
    void SetWriteFails(bool fails) { m_writeFails = fails; }
    // Every frame the host wrote, in order, ACK and NAK included.
    const std::vector<Bytes>& Written() const { return m_written; }
    void ClearWritten() { m_written.clear(); }

private:
    std::deque<Reply> m_replies;
    Reply m_current;
    std::size_t m_burst { 0 };
    std::size_t m_offset { 0 };
    bool m_writeFails { false };
    std::vector<Bytes> m_written;
};

// Stops the run with a message when an invariant of the code under test
// does not hold; libFuzzer records the input as a finding.
[[noreturn]] void Fail(const char* what);
// The same, showing the text it is about with control bytes escaped.
[[noreturn]] void Fail(const char* what, std::string_view text);
inline void Check(bool condition, const char* what)
{
    if (!condition)
        Fail(what);
}

} // namespace orvex::fuzz

namespace orvex::fuzz {

inline void Check(bool condition, const char* what, std::string_view text)
{
    if (!condition)
        Fail(what, text);
}

} // namespace orvex::fuzz
