#pragma once

#include "capture/WireFrame.h"

#include <span>
#include <string>
#include <string_view>

namespace orvex {

// One JSON object per line, for programs: an exchange with its time (µs),
// port, address, log name, every frame (direction, time, hexadecimal
// bytes), the decoded lines and the result code with its text. Device
// texts of any bytes come out as valid UTF-8 (a byte that is not UTF-8
// becomes U+FFFD). No line break inside the object; none at the end.
std::string JsonExchangeLine(const WireExchange& exchange, std::string_view port, std::span<const std::string> lines);
// A tool event: time, port and text.
std::string JsonEventLine(const WireEvent& event, std::string_view port);
// A free-standing log line (a message of the tool, not an exchange).
std::string JsonMessageLine(std::int64_t timeNs, std::string_view text);

} // namespace orvex
