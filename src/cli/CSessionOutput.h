#pragma once

#include "capture/CExchangeAssembler.h"
#include "capture/CPortTap.h"
#include "cli/CStreamSink.h"
#include "cli/CWirePipeline.h"
#include "cli/WireOptions.h"
#include "protocol/COutputInterface.h"

#include <iosfwd>
#include <memory>
#include <string>

namespace orvex {

class CCOMPort;
class CExchangeLog;

// What a command, a script, polling or the search writes, with the wire
// options applied: without them, the log lines on standard output as
// always; with --json, JSON Lines instead (the tool's messages as objects
// of their own); with --capture, every frame the port reads or writes in a
// capture file; with --timestamps, µs on the headers.
class CSessionOutput {
public:
    CSessionOutput(const WireOptions& options, bool raw, bool decode, std::ostream& out, std::string portName);
    ~CSessionOutput();
    CSessionOutput(const CSessionOutput&) = delete;
    CSessionOutput& operator=(const CSessionOutput&) = delete;

    // Opens the capture file; false with `error` naming it and the reason.
    bool Open(std::string& error);
    // Where the log lines go.
    CLogSink& Sink();
    // Watches the port (before it is opened, so the capture has the opening).
    void Attach(CCOMPort& port);
    // The protocol engine's observer: the log, or under --json what turns
    // the tool's messages into JSON.
    COutputInterface* Observer(CExchangeLog& log);
    // Ends the capture and the JSON; the exit status, made 1 when the
    // capture could not be written (said on `err`).
    int Finish(int status, std::ostream& err);

private:
    class CJsonMessages;

    WireOptions m_options;
    std::unique_ptr<CStreamSink> m_stream;
    std::unique_ptr<CWirePipeline> m_pipeline;
    std::unique_ptr<CExchangeAssembler> m_assembler;
    std::unique_ptr<CPortTap> m_tap;
    std::unique_ptr<CJsonMessages> m_messages;
    CCOMPort* m_port { nullptr };
};

} // namespace orvex
