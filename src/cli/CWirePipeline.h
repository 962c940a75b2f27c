#pragma once

#include "capture/CCaptureSink.h"
#include "capture/CJsonSink.h"
#include "capture/CPcapngWriter.h"
#include "cli/CStreamSink.h"
#include "cli/WireOptions.h"
#include "decode/CWireDecoder.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

// Whether the pipeline prints the log lines itself (monitor, relay,
// decode) or leaves them to the tool's own exchange log (commands).
enum class PipelineText : std::uint8_t { Print, Leave };

// The sinks an orvexctl run asked for, behind one listener: the log lines
// on standard output (or JSON Lines instead), and a capture file.
class CWirePipeline {
public:
    CWirePipeline(const WireOptions& options, WireLogOptions log, std::ostream& out, PipelineText text, LineFlush flush);

    // Opens the capture file; false with `error` naming it and the reason.
    bool Open(std::string& error);
    CExchangeListener& Listener() { return *m_decoder; }
    // The name of each port number; the sinks read it when they write.
    std::vector<std::string>& Ports() { return m_ports; }
    // Null unless --json was given.
    CJsonSink* Json() { return m_json.get(); }
    // Flushes and closes the capture; the reason when it could not be written.
    std::string Close();

private:
    WireOptions m_options;
    std::vector<std::string> m_ports;
    CPcapngWriter m_writer;
    std::unique_ptr<CStreamSink> m_stream;
    std::unique_ptr<CLogLinesSink> m_lines;
    std::unique_ptr<CJsonSink> m_json;
    std::unique_ptr<CCaptureSink> m_capture;
    std::unique_ptr<CWireDecoder> m_decoder;
};

} // namespace orvex
