#include "protocol/CExchangeLock.h"

#include <algorithm>

namespace orvex {

bool CExchangeLock::TryAcquireFor(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(m_mutex);
    const std::uint64_t ticket = m_nextTicket++;
    m_waiting.push_back(ticket);
    const bool mine = m_changed.wait_until(lock, deadline, [&] { return !m_held && m_waiting.front() == ticket; });
    if (!mine) {
        m_waiting.erase(std::find(m_waiting.begin(), m_waiting.end(), ticket));
        // The next in line may have been waiting behind this ticket only.
        m_changed.notify_all();
        return false;
    }
    m_waiting.pop_front();
    m_held = true;
    return true;
}

void CExchangeLock::Release()
{
    {
        std::lock_guard lock(m_mutex);
        m_held = false;
    }
    m_changed.notify_all();
}

} // namespace orvex
