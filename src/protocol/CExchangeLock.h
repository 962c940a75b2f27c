#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace orvex {

// The engine's lock between the threads that send commands: binary, with
// a timed wait, and handed over in arrival order. A plain semaphore lets
// the thread that just released it take it straight back, so the engine
// polling with no interval could keep a button's command waiting until
// its 1000 ms ran out although every exchange was short.
class CExchangeLock {
public:
    // False when the lock was not ours within `timeout`.
    bool TryAcquireFor(std::chrono::milliseconds timeout);
    void Release();

private:
    std::mutex m_mutex; // guards the three members below
    std::condition_variable m_changed;
    bool m_held { false };
    std::deque<std::uint64_t> m_waiting; // tickets, oldest first
    std::uint64_t m_nextTicket { 0 };
};

} // namespace orvex
