#pragma once

#include "capture/CDecodedSink.h"

#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

namespace orvex {

// Whether each line is flushed as it is written (live sources) or left to
// the stream's buffer (a capture file read as fast as it goes).
enum class LineFlush { EachLine, Buffered };

// Writes one JSON object per exchange and per event on its own line.
class CJsonSink : public CDecodedSink {
public:
    CJsonSink(std::ostream& out, const std::vector<std::string>& ports, LineFlush flush = LineFlush::EachLine);

    void OnDecoded(const WireExchange& exchange, std::span<const std::string> lines) override;
    void OnEvent(const WireEvent& event) override;
    // A free-standing message of the tool.
    void OnMessage(std::int64_t timeNs, std::string_view text);

private:
    std::string_view PortName(int port) const;

    std::mutex m_mutex; // guards m_out: messages may come from another thread
    std::ostream& m_out;
    const std::vector<std::string>& m_ports;
    LineFlush m_flush;
};

} // namespace orvex
