#pragma once

#include <atomic>
#include <chrono>
#include <csignal>
#include <optional>

namespace orvex {

// SIGINT and SIGTERM set the flag (polling ends as unchecking the box
// does; monitor and relay end and flush); the previous handlers come back
// afterwards. The main thread sleeps in one wait until the end of the run
// or a signal, rather than waking to look at the flag.
class CInterruptScope {
public:
    explicit CInterruptScope(std::atomic<int>& flag);
    ~CInterruptScope();
    CInterruptScope(const CInterruptScope&) = delete;
    CInterruptScope& operator=(const CInterruptScope&) = delete;

    // Waits until `deadline` (none when it is empty) or a signal.
    void Wait(const std::optional<std::chrono::steady_clock::time_point>& deadline) const;

private:
    std::atomic<int>& m_flag;
    struct sigaction m_previousInterrupt {};
    struct sigaction m_previousTerminate {};
    int m_wake[2] { -1, -1 };
};

} // namespace orvex
