#include "app/CExchangeTap.h"

#include "protocol/CKRMSProtocol.h"

#include <algorithm>

namespace orvex {

CExchangeTap::CExchangeTap(CKRMSProtocol& protocol, COutputInterface& inner)
    : m_protocol(protocol)
    , m_inner(inner)
{
}

void CExchangeTap::AddListener(CExchangeListener* listener)
{
    std::lock_guard guard(m_mutex);
    if (listener && std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void CExchangeTap::RemoveListener(CExchangeListener* listener)
{
    std::lock_guard guard(m_mutex);
    std::erase(m_listeners, listener);
}

void CExchangeTap::OutputLine(std::string line)
{
    m_inner.OutputLine(std::move(line));
}

void CExchangeTap::OnCommandDone(std::string name)
{
    const auto when = CExchangeListener::Clock::now();
    m_inner.OnCommandDone(name);
    // Still inside the engine's lock: the record is this exchange's.
    const std::vector<std::string>& record = m_protocol.GetExchangeRecord();
    std::lock_guard guard(m_mutex);
    for (CExchangeListener* listener : m_listeners)
        listener->OnExchange(name, record, when);
}

} // namespace orvex
