#pragma once

#include "link/CCOMPort.h"
#include "link/CMemoryLine.h"
#include "support/FuzzCheck.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace orvex::fuzz {

using Bytes = std::vector<std::uint8_t>;

// The far end of a memory line under a real CCOMPort, playing scripted
// replies.
//
// Each reply is a list of bursts: bytes that arrive back to back, followed
// by a silence longer than any read time-out. A read takes bytes from the
// current burst; meeting the silence before it has all it wants fails the
// read, as the time-out would, with the bytes that came left in the buffer.
// Every command the host writes (anything but its six-byte ACK or NAK)
// brings the next scripted reply onto the line: what was left of the old
// one the port's purge before the write has thrown away.
class CScriptedUnit {
public:
    using Reply = std::vector<Bytes>;

    CScriptedUnit() = default;
    CScriptedUnit(const CScriptedUnit&) = delete;
    CScriptedUnit& operator=(const CScriptedUnit&) = delete;

    // A port whose slot 0 is a memory line played by this unit; open it
    // with OpenPort(0, ...) before the first exchange.
    std::unique_ptr<CCOMPort> MakePort();

    void AddReply(Reply reply) { m_replies.push_back(std::move(reply)); }
    void ClearReplies();
    void SetWriteFails(bool fails);
    // Every frame the host wrote, in order, ACK and NAK included.
    const std::vector<Bytes>& Written() const { return m_written; }
    void ClearWritten() { m_written.clear(); }

private:
    void OnWrite(const std::uint8_t* bytes, int count);

    CMemoryLine* m_line { nullptr }; // the line of the last slot opened, owned by the port
    std::deque<Reply> m_replies;
    bool m_writeFails { false };
    std::vector<Bytes> m_written;
};

} // namespace orvex::fuzz
