#pragma once

#include "capture/WireFrame.h"

#include <string>
#include <vector>

namespace orvex {

// The exchange record the protocol engine would have kept had the tool
// sent this exchange itself, so the exchange log decodes a watched
// exchange into the very lines of its own: the command, the reply or
// "<- " and the failure text, the controller's ACK or NAK (and the command
// again after the unit's NAK).
std::vector<std::string> RecordOf(const WireExchange& exchange);

// The one line that shows a stray frame: what it is, who sent it and its
// bytes, e.g. "<- Unsolicited frame: 02 01 06 14 ...".
std::string StrayLine(const WireExchange& stray);

// "controller", "device" or "unknown".
const char* DirectionName(WireDirection direction);

} // namespace orvex
