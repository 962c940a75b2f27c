#pragma once

#include "capture/CBusPort.h"
#include "capture/CExchangeAssembler.h"

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

namespace orvex {

// Listens on one port (a receiver hearing both sides) or two (a tap cable:
// one adapter hears the controller, the other the unit), never writing,
// and hands what it hears to the assembler in the order it arrives.
class CWireMonitor {
public:
    struct Tap {
        std::string path;
        WireDirection direction { WireDirection::Unknown };
    };

    CWireMonitor(std::vector<Tap> taps, CExchangeAssembler& assembler);

    // Opens every tap; false with `error` naming the port and the reason.
    bool Open(const std::string& modeText, std::string& error);
    // Listens until `stop` is set, the deadline passes or a port is lost.
    WireEnd Run(const std::atomic<int>& stop, std::chrono::steady_clock::time_point deadline);
    // What ended a PortLost run.
    const std::string& LossText() const { return m_loss; }

private:
    std::vector<Tap> m_taps;
    std::vector<CBusPort> m_ports;
    CExchangeAssembler& m_assembler;
    std::string m_loss;
};

} // namespace orvex
