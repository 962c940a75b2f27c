#pragma once

#include <string_view>

namespace orvex {

// What a line of the exchange log is, from its text alone, so that the
// window can colour it and filter on it without keeping anything per line.
enum class LogLineKind {
    Plain,      // a decoded line, a free-standing line
    Header,     // "->POLL (12:00:00)": an exchange's command name and time
    RawFrame,   // "-> 02 03 06 ...": the bytes of a frame as sent or received
    Separator,  // the line of minus signs after each exchange
    Failure,    // no answer, a refusal, or a fault the unit reports
    BillEvent,  // a bill stacked, escrowed, returned, dispensed or unloaded
};

LogLineKind ClassifyLogLine(std::string_view line);
// The command name of a header line ("POLL"); empty for any other line.
std::string_view HeaderName(std::string_view line);

} // namespace orvex
