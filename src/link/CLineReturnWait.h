#pragma once

#include "link/PortDescription.h"

#include <chrono>
#include <functional>
#include <string>

namespace orvex {

// Waits for a line that went away to come back: the same USB adapter (its
// by-id name, or its serial number and ids, even under a new /dev/ttyUSBn),
// the same path for anything else (a pty's link, a network line). Sleeps
// between looks and honours a stop request within a tenth of a second.
// The polling engine and the bus monitor share it.
class CLineReturnWait {
public:
    using StopRequested = std::function<bool()>;
    // Tries the line at `path`; true when it is open again.
    using Reopen = std::function<bool(const std::string& path)>;

    // How often the devices are looked at, and how often a network server
    // is called again.
    static constexpr std::chrono::milliseconds kDeviceLook { 250 };
    static constexpr std::chrono::milliseconds kNetworkRetry { 1000 };

    explicit CLineReturnWait(PortDescription identity);

    // The path the line reopened on, or empty when stopped first.
    std::string Wait(const StopRequested& stopRequested, const Reopen& reopen) const;
    // Where the line is now, or empty while it is still away.
    std::string Locate() const;

private:
    PortDescription m_identity;
};

} // namespace orvex
