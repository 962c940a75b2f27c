#pragma once

#include "capture/CCaptureSink.h"
#include "capture/CExchangeAssembler.h"
#include "capture/CPcapngWriter.h"
#include "capture/CPortTap.h"
#include "decode/CWireDecoder.h"

#include <string>
#include <vector>

namespace orvex {

// orvex-sim --capture: the unit's side of the line in a pcapng capture,
// every exchange with the lines the exchange log gives it.
class CSimCapture {
public:
    CSimCapture();
    // False with `error` naming the file and the reason.
    bool Open(const std::string& path, const std::string& portName, std::string& error);
    CLineTap& Tap() { return m_tap; }
    // Ends what is held and closes the file; the reason when it failed.
    std::string Close();

private:
    std::vector<std::string> m_ports;
    CPcapngWriter m_writer;
    CCaptureSink m_sink;
    CWireDecoder m_decoder;
    CExchangeAssembler m_assembler;
    CPortTap m_tap;
};

} // namespace orvex
