#include "link/CSerialLine.h"

#include "link/CRfc2217Line.h"
#include "link/CTcpLine.h"
#include "link/CTtyLine.h"
#include "link/NetworkPortName.h"

#include <cerrno>
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
    case LineFault::ConnectionRefused:
        return result.error == EBUSY ? "busy: another client is connected" : "connection refused";
    case LineFault::Unconfirmed:
        return result.error == ENOTSUP ? "not carried by a raw TCP line" : "not confirmed by the remote end";
    }
    return "";
}

bool IsLineGone(LineFault fault)
{
    return fault == LineFault::HungUp || fault == LineFault::DeviceRemoved || fault == LineFault::IoError
        || fault == LineFault::ConnectionLost || fault == LineFault::ConnectionRefused;
}

std::unique_ptr<CSerialLine> MakeSerialLine(const std::string& path)
{
    if (auto name = ParseNetworkPortName(path)) {
        if (name->scheme == NetworkScheme::Rfc2217)
            return std::make_unique<CRfc2217Line>();
        return std::make_unique<CTcpLine>();
    }
    return std::make_unique<CTtyLine>();
}

} // namespace orvex
