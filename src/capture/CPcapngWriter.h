#pragma once

#include "capture/WireFrame.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// Writes a pcapng capture that Wireshark, tshark, mergecap and editcap
// open: one interface per port or tap (named after it, ns timestamps),
// link type 252 (Upper PDU) with the exported-PDU tag that hands every
// packet to the "orvex" dissector, one packet per frame with its direction
// flag, comments for decoded lines and tool events. Blocks are written
// whole: a capture cut short by a crash ends at the last block flushed.
class CPcapngWriter {
public:
    CPcapngWriter() = default;
    ~CPcapngWriter();
    CPcapngWriter(const CPcapngWriter&) = delete;
    CPcapngWriter& operator=(const CPcapngWriter&) = delete;

    // Creates (or truncates) the file and writes the section header.
    // False with Error() naming the file and the reason.
    bool Open(const std::string& path, std::string_view application);
    bool IsOpen() const { return m_fd >= 0; }
    // The interface id of a port or tap (its description block is written
    // the first time the name is seen).
    int Interface(std::string_view name);
    void AddFrame(int interface, const WireFrame& frame, std::string_view comment = {});
    // A tool event: a packet without a frame carrying the text as its comment.
    void AddEvent(int interface, std::int64_t timeNs, std::string_view text);
    // Writes what is held in one system call. False once a write failed.
    bool Flush();
    void Close();
    const std::string& Error() const { return m_error; }

    // The block bytes of the packets, for tests and the benchmark.
    const std::vector<std::uint8_t>& Pending() const { return m_buffer; }

private:
    void AddPacket(int interface, std::int64_t timeNs, WireDirection direction, const std::uint8_t* bytes,
        std::size_t count, std::string_view comment);

    int m_fd { -1 };
    std::string m_path;
    std::string m_error;
    std::vector<std::string> m_interfaces;
    std::vector<std::uint8_t> m_buffer;
};

// The link type of the packets and the dissector they are handed to.
inline constexpr std::uint16_t kUpperPduLinkType = 252;
inline constexpr std::string_view kDissectorName = "orvex";

} // namespace orvex
