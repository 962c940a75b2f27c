#include "app/CExchangeTap.h"

#include "protocol/CKRMSProtocol.h"

#include <algorithm>

namespace orvex {

CExchangeTap::CExchangeTap(CKRMSProtocol& protocol, COutputInterface& inner)
    : m_protocol(protocol)
    , m_inner(inner)
{
}

void CExchangeTap::AddWatcher(CExchangeWatcher* watcher)
{
    std::lock_guard guard(m_mutex);
    if (watcher && std::find(m_watchers.begin(), m_watchers.end(), watcher) == m_watchers.end())
        m_watchers.push_back(watcher);
}

void CExchangeTap::RemoveWatcher(CExchangeWatcher* watcher)
{
    std::lock_guard guard(m_mutex);
    std::erase(m_watchers, watcher);
}

void CExchangeTap::OutputLine(std::string line)
{
    m_inner.OutputLine(std::move(line));
}

void CExchangeTap::OnCommandDone(std::string name)
{
    const auto when = CExchangeWatcher::Clock::now();
    m_inner.OnCommandDone(name);
    // Still inside the engine's lock: the record is this exchange's.
    const std::vector<std::string>& record = m_protocol.GetExchangeRecord();
    std::lock_guard guard(m_mutex);
    for (CExchangeWatcher* watcher : m_watchers)
        watcher->OnExchange(name, record, when);
}

} // namespace orvex
