#include "link/CSerialLine.h"

#include "link/CTtyLine.h"

#include <cstring>

namespace orvex {

std::string DescribeLineFault(const LineResult& result)
{
    switch (result.fault) {
    case LineFault::None: return "";
    case LineFault::Timeout: return "timeout";
    case LineFault::HungUp: return "line hung up";
    case LineFault::DeviceRemoved: return "device disconnected";
    case LineFault::IoError: return result.error != 0 ? std::strerror(result.error) : "I/O error";
    case LineFault::ConnectionLost: return "connection lost";
    case LineFault::ConnectionRefused: return "connection refused";
    case LineFault::Unconfirmed: return "not confirmed by the remote end";
    }
    return "";
}

bool IsLineGone(LineFault fault)
{
    return fault == LineFault::HungUp || fault == LineFault::DeviceRemoved || fault == LineFault::IoError
        || fault == LineFault::ConnectionLost || fault == LineFault::ConnectionRefused;
}

std::unique_ptr<CSerialLine> MakeSerialLine(const std::string&)
{
    return std::make_unique<CTtyLine>();
}

} // namespace orvex
