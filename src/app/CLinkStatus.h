#pragma once

#include "app/CExchangeWatcher.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace orvex {

// What the window's status bar shows, without the toolkit: the line (port
// and its path, speed, bus address), polling on or off, the last poll
// state with its age, exchanges and errors counted, and how long the unit
// has given no answer. Fed by the exchange tap on any thread; read by the
// window's timer.
class CLinkStatus : public CExchangeWatcher {
public:
    struct Settings {
        std::string portName;   // "COM1"; empty when no port is current
        std::string portPath;   // "/dev/ttyUSB0", a URL, or empty
        int baud { 0 };
        int address { 0 };      // bus address 0..4
        bool polling { false };
        // Polling waits for the lost adapter (or server) to come back.
        bool waitingForLine { false };
        // "Monitoring /dev/ttyUSB0 and /dev/ttyUSB1" while the window
        // watches a bus instead of talking on it; empty otherwise.
        std::string busWatch;
    };

    struct Fields {
        std::string port;       // "COM1 /dev/ttyUSB0" or "No port"
        std::string speed;      // "19200 baud"
        std::string address;    // "CY (address 1)"
        std::string polling;    // "Polling", "Not polling", the bus watched, the wait for the adapter
        std::string lastPoll;   // "IDLING, 0.4 s ago"; empty before the first
        std::string counts;     // "Exchanges 12, errors 1"
        std::string silence;    // "No answer for 5 s" while the unit is silent
        bool silent { false };
    };

    void SetSettings(const Settings& settings);
    void OnExchange(std::string_view name, std::span<const std::string> record, Clock::time_point when) override;
    Fields Describe(Clock::time_point now) const;

    std::uint64_t Exchanges() const;
    std::uint64_t Errors() const;
    // Forgets the counts and the last poll (a new port, or the operator
    // asked for it).
    void ResetCounts();

    static std::string AddressName(int address);
    // "0.4 s", "12 s", "3 min 5 s".
    static std::string AgeText(Clock::duration age);

private:
    // Guards everything below.
    mutable std::mutex m_mutex;
    Settings m_settings;
    std::uint64_t m_exchanges { 0 };
    std::uint64_t m_errors { 0 };
    std::string m_lastPollState;
    std::optional<Clock::time_point> m_lastPollTime;
    std::optional<Clock::time_point> m_lastAnswer;
    // Set while the last exchange got no answer: since when there was none.
    std::optional<Clock::time_point> m_silentSince;
};

} // namespace orvex
