#include "decode/CLogLock.h"

namespace orvex {

bool CLogLock::TryAcquireFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (!m_released.wait_for(lock, timeout, [this] { return !m_held; }))
        return false;
    m_held = true;
    return true;
}

bool CLogLock::TryAcquire()
{
    std::lock_guard lock(m_mutex);
    if (m_held)
        return false;
    m_held = true;
    return true;
}

void CLogLock::Release()
{
    {
        std::lock_guard lock(m_mutex);
        m_held = false;
    }
    m_released.notify_one();
}

} // namespace orvex
