#pragma once

#include "capture/CCaptureSink.h"
#include "capture/CExchangeAssembler.h"
#include "capture/CPcapngWriter.h"
#include "capture/CPortTap.h"
#include "decode/CWireDecoder.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvex {

class CCOMPort;

// Records every frame the window's port reads and writes into a pcapng
// capture file (as orvexctl --capture does), with the decoded lines of each
// exchange in its comment, until stopped. While the window monitors or
// relays a bus, it is that bus's sink too: what is recorded meanwhile is
// the watched frames, each port an interface of its own.
class CCaptureRecorder : public CDecodedSink {
public:
    CCaptureRecorder() = default;
    ~CCaptureRecorder() override;
    CCaptureRecorder(const CCaptureRecorder&) = delete;
    CCaptureRecorder& operator=(const CCaptureRecorder&) = delete;

    // Opens the file and watches the port; false with `error` naming the
    // file and the reason.
    bool Start(const std::string& path, CCOMPort& port, const std::string& portName, std::string& error);
    // Leaves the port and closes the file; the write error, if any.
    std::string Stop();
    bool IsRecording() const { return m_port != nullptr; }
    const std::string& Path() const { return m_path; }

    // The watched bus's ports by port number (empty when none is watched).
    void SetBusPorts(std::vector<std::string> ports);
    // CDecodedSink, on the watching thread: kept while recording.
    void OnDecoded(const WireExchange& exchange, std::span<const std::string> lines) override;
    void OnEvent(const WireEvent& event) override;

private:
    std::string m_path;
    std::vector<std::string> m_ports;
    CPcapngWriter m_writer;
    std::unique_ptr<CCaptureSink> m_sink;
    std::unique_ptr<CWireDecoder> m_decoder;
    std::unique_ptr<CExchangeAssembler> m_assembler;
    std::unique_ptr<CPortTap> m_tap;
    CCOMPort* m_port { nullptr };
    // Guards m_busPorts and m_busSink (and the writer while the bus sink
    // writes): the watching thread writes, the window's starts and stops.
    std::mutex m_busMutex;
    std::vector<std::string> m_busPorts;
    std::unique_ptr<CCaptureSink> m_busSink;
};

// The log lines of a capture file, into `sink` as the tool's own exchanges
// would be written; false with `error` naming the file and the reason
// (the lines before a damaged part are written).
bool DecodeCaptureFile(const std::string& path, CLogSink& sink, std::string& error);

} // namespace orvex
