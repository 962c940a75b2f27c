#pragma once

#include "capture/CCaptureSink.h"
#include "capture/CExchangeAssembler.h"
#include "capture/CPcapngWriter.h"
#include "capture/CPortTap.h"
#include "decode/CWireDecoder.h"

#include <memory>
#include <string>
#include <vector>

namespace orvex {

class CCOMPort;

// Records every frame the window's port reads and writes into a pcapng
// capture file (as orvexctl --capture does), with the decoded lines of each
// exchange in its comment, until stopped.
class CCaptureRecorder {
public:
    CCaptureRecorder() = default;
    ~CCaptureRecorder();
    CCaptureRecorder(const CCaptureRecorder&) = delete;
    CCaptureRecorder& operator=(const CCaptureRecorder&) = delete;

    // Opens the file and watches the port; false with `error` naming the
    // file and the reason.
    bool Start(const std::string& path, CCOMPort& port, const std::string& portName, std::string& error);
    // Leaves the port and closes the file; the write error, if any.
    std::string Stop();
    bool IsRecording() const { return m_port != nullptr; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::vector<std::string> m_ports;
    CPcapngWriter m_writer;
    std::unique_ptr<CCaptureSink> m_sink;
    std::unique_ptr<CWireDecoder> m_decoder;
    std::unique_ptr<CExchangeAssembler> m_assembler;
    std::unique_ptr<CPortTap> m_tap;
    CCOMPort* m_port { nullptr };
};

// The log lines of a capture file, into `sink` as the tool's own exchanges
// would be written; false with `error` naming the file and the reason
// (the lines before a damaged part are written).
bool DecodeCaptureFile(const std::string& path, CLogSink& sink, std::string& error);

} // namespace orvex
