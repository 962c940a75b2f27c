#include "app/LogLineKind.h"

#include <array>

namespace orvex {

namespace {

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// After the reply mark: the failure texts of an exchange and the states in
// which the unit reports a fault or a refusal.
constexpr std::array kFailureStarts {
    std::string_view("Timeout"), std::string_view("Synchronization error"), std::string_view("Data error"),
    std::string_view("CRC error"), std::string_view("ACK not recieved"), std::string_view("NAK"),
    std::string_view("Invalid command"), std::string_view("Error code"), std::string_view("Unknown code"),
    std::string_view("FAILURE"), std::string_view("REJECTING"), std::string_view("INVALID BILL NUMBER"),
    std::string_view("JAM IN"), std::string_view("CHEATED"), std::string_view("BOX FULL"),
    std::string_view("BOX REMOVED"), std::string_view("VALIDATING HEAD OUT OF POSITION"),
    std::string_view("... (no response)"), std::string_view("UNLOADING: Not enough bills"),
};

constexpr std::array kBillEventStarts {
    std::string_view("DISPENSED"), std::string_view("UNLOADED"), std::string_view("DISPENSING: Waiting"),
};

} // namespace

LogLineKind ClassifyLogLine(std::string_view line)
{
    if (line.size() < 3)
        return LogLineKind::Plain;
    if (line[0] == '-') {
        if (line[1] == '-' && line[2] == '-')
            return LogLineKind::Separator;
        if (line[1] != '>')
            return LogLineKind::Plain;
        if (line[2] != ' ')
            return HeaderName(line).empty() ? LogLineKind::Plain : LogLineKind::Header;
    } else if (line[0] != '<' || line[1] != '-' || line[2] != ' ') {
        return StartsWith(line, "== ") ? LogLineKind::Failure : LogLineKind::Plain;
    }
    // "-> " or "<- ": a frame's bytes, or a decoded line.
    std::string_view rest = line.substr(3);
    if (rest.size() >= 2 && IsHexDigit(rest[0]) && IsHexDigit(rest[1]) && (rest.size() == 2 || rest[2] == ' '))
        return LogLineKind::RawFrame;
    if (line[0] != '<')
        return LogLineKind::Plain;
    if (rest.find("**************") != std::string_view::npos)
        return LogLineKind::BillEvent;
    for (std::string_view start : kFailureStarts) {
        if (StartsWith(rest, start))
            return LogLineKind::Failure;
    }
    for (std::string_view start : kBillEventStarts) {
        if (StartsWith(rest, start))
            return LogLineKind::BillEvent;
    }
    return LogLineKind::Plain;
}

std::string_view HeaderName(std::string_view line)
{
    if (line.size() < 5 || line[0] != '-' || line[1] != '>' || line[2] == ' ' || line.back() != ')')
        return {};
    std::size_t open = line.rfind(" (");
    if (open == std::string_view::npos || open < 2)
        return {};
    return line.substr(2, open - 2);
}

} // namespace orvex
