#pragma once

#include "capture/WireFrame.h"

#include <span>
#include <string>

namespace orvex {

// Where a decoded exchange goes: the log on a terminal, a capture file,
// JSON Lines. `lines` are the exchange log's lines for it, header and
// separator included (for a stray frame: its one line and the separator).
class CDecodedSink {
public:
    virtual ~CDecodedSink() = default;
    virtual void OnDecoded(const WireExchange& exchange, std::span<const std::string> lines) = 0;
    virtual void OnEvent(const WireEvent& event) = 0;
};

} // namespace orvex
