#pragma once

#include "capture/CDecodedSink.h"
#include "capture/CPcapngWriter.h"

#include <string>
#include <vector>

namespace orvex {

// Keeps decoded exchanges in a capture file: every frame a packet on the
// interface of its port, the exchange's lines in the comment of its last
// packet, tool events as comments of their own. Each exchange is flushed
// whole, so a run that is cut short leaves a valid file.
class CCaptureSink : public CDecodedSink {
public:
    // `ports` names the port of each port number.
    CCaptureSink(CPcapngWriter& writer, const std::vector<std::string>& ports);

    void OnDecoded(const WireExchange& exchange, std::span<const std::string> lines) override;
    void OnEvent(const WireEvent& event) override;

private:
    int InterfaceOf(int port);

    CPcapngWriter& m_writer;
    const std::vector<std::string>& m_ports;
    std::string m_comment;
};

} // namespace orvex
