#pragma once

#include "capture/CExchangeAssembler.h"
#include "link/CLineTap.h"

#include <mutex>

namespace orvex {

// Which end of the bus the tool plays on a port: orvexctl is the
// controller (what it writes are commands), orvex-sim the unit.
enum class BusRole : std::uint8_t { Controller, Device };

// Hands the bytes a port of the tool reads and writes to an assembler, as
// frames of the right direction, and its line events as tool events.
class CPortTap : public CLineTap {
public:
    CPortTap(CExchangeAssembler& assembler, int port, BusRole role);

    void OnBytes(TapDirection direction, std::int64_t timeNs, std::span<const std::uint8_t> bytes) override;
    void OnLineEvent(std::int64_t timeNs, std::string_view text) override;
    // Ends what is held (an exchange still waiting for its reply).
    void Finish();

private:
    std::mutex m_mutex; // guards m_assembler: the port is used from the engine's thread and the caller's
    CExchangeAssembler& m_assembler;
    int m_port;
    BusRole m_role;
};

} // namespace orvex
