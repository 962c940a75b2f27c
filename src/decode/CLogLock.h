#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace orvex {

// A semaphore of one permit with a timed wait. Built on a mutex and a
// condition variable: the library's semaphore enters the kernel on every
// release (more than the whole decoding of a POLL costs), and a timed mutex
// is taken with a call the thread sanitizer does not follow.
class CLogLock {
public:
    bool TryAcquireFor(std::chrono::milliseconds timeout);
    bool TryAcquire();
    void Release();

private:
    std::mutex m_mutex; // guards m_held
    std::condition_variable m_released;
    bool m_held { false };
};

} // namespace orvex
