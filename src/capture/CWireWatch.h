#pragma once

#include "capture/CExchangeAssembler.h"
#include "capture/WireFrame.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

class CWireMonitor;
class CWireRelay;

enum class WireWatchKind : std::uint8_t { Monitor, Relay };

struct WireWatchSettings {
    WireWatchKind kind { WireWatchKind::Monitor };
    // Monitor: one port, or the controller's side then the unit's (a tap
    // cable). Relay: the controller's port, then the unit's.
    std::vector<std::string> paths;
    // A silence this long inside a frame ends it.
    int gapMilliseconds { 50 };
};

// A watched bus from the ports to the exchanges: the monitor or the relay
// with its assembler, as orvexctl monitor and relay and the window's Bus
// menu run them.
class CWireWatch {
public:
    // A watched controller's reply time-out is unknown, and the next command
    // ends an unanswered one anyway; a command still unanswered after this
    // long is shown as timed out without waiting for the next. Generous, so
    // that a loaded machine that reads a late reply late does not call it
    // missing.
    static constexpr std::int64_t kReplyWindowNs = 5000000000;

    CWireWatch(WireWatchSettings settings, CExchangeListener& listener);
    ~CWireWatch();
    CWireWatch(const CWireWatch&) = delete;
    CWireWatch& operator=(const CWireWatch&) = delete;

    const WireWatchSettings& Settings() const { return m_settings; }
    // Opens every port in `modeText` ("9600,n,8,1"); false with `error`
    // naming the port and the reason.
    bool Open(const std::string& modeText, std::string& error);
    // Watches until `stop` is set, the deadline passes or a port is lost,
    // then ends what the assembler holds.
    WireEnd Run(const std::atomic<int>& stop,
        std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());
    // "/dev/ttyUSB1: device disconnected" after a PortLost run.
    const std::string& LossText() const;

private:
    WireWatchSettings m_settings;
    CExchangeAssembler m_assembler;
    std::unique_ptr<CWireMonitor> m_monitor;
    std::unique_ptr<CWireRelay> m_relay;
};

} // namespace orvex
