#pragma once

#include <chrono>
#include <span>
#include <string>
#include <string_view>

namespace orvex {

// Told of every finished exchange with its log name and record (the hex
// lines of the frames sent and received, or a failure text in place of the
// reply). Called on the thread that made the exchange, with the protocol
// engine's lock held, so it must be quick and safe from any thread.
class CExchangeWatcher {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~CExchangeWatcher() = default;
    virtual void OnExchange(std::string_view name, std::span<const std::string> record, Clock::time_point when) = 0;
};

} // namespace orvex
