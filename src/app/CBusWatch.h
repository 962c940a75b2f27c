#pragma once

#include "capture/CWireWatch.h"
#include "decode/CWireDecoder.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

class CDecodedSink;
class CLogSink;

// The window's monitor or relay: a watched bus decoded into the log list
// with the very lines orvexctl monitor and relay print, and handed to a
// capture being recorded. Started on the window's thread, run on the
// worker, stopped from either.
class CBusWatch {
public:
    // `log` gets the lines; `record`, when given, every decoded exchange
    // and event as well.
    CBusWatch(WireWatchSettings settings, CLogSink& log, CDecodedSink* record);
    ~CBusWatch();
    CBusWatch(const CBusWatch&) = delete;
    CBusWatch& operator=(const CBusWatch&) = delete;

    // Opens the ports at `baud`; false with `error` naming the port and
    // the reason (nothing is left open then).
    bool Open(int baud, const WireLogOptions& options, std::string& error);
    // On the thread that watches: until Stop or a lost port; what is held
    // is written before it returns. The loss ("/dev/ttyUSB1: device
    // disconnected"), or empty when stopped.
    std::string Run();
    // From any thread: Run ends at its next turn.
    void Stop() { m_stop.store(1); }
    // The ports by port number, as the log lines and a capture name them.
    const std::vector<std::string>& Ports() const { return m_ports; }
    // "Monitoring A and B", "Relaying controller A, unit B".
    std::string StateText() const;

private:
    WireWatchSettings m_settings;
    std::vector<std::string> m_ports;
    CLogLinesSink m_lines;
    CDecodedSink* m_record;
    std::unique_ptr<CWireDecoder> m_decoder;
    std::unique_ptr<CWireWatch> m_watch;
    std::atomic<int> m_stop { 0 };
};

} // namespace orvex
