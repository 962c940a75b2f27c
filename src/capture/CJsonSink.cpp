#include "capture/CJsonSink.h"

#include "capture/JsonLines.h"

#include <ostream>

namespace orvex {

CJsonSink::CJsonSink(std::ostream& out, const std::vector<std::string>& ports, LineFlush flush)
    : m_out(out)
    , m_ports(ports)
    , m_flush(flush)
{
}

std::string_view CJsonSink::PortName(int port) const
{
    if (port >= 0 && static_cast<std::size_t>(port) < m_ports.size())
        return m_ports[static_cast<std::size_t>(port)];
    return {};
}

void CJsonSink::OnDecoded(const WireExchange& exchange, std::span<const std::string> lines)
{
    // The header's name and time are fields of their own; the separator is
    // the log's, not the exchange's.
    std::span<const std::string> decoded = lines;
    if (exchange.kind == WireExchangeKind::Exchange && !decoded.empty())
        decoded = decoded.subspan(1);
    if (!decoded.empty())
        decoded = decoded.first(decoded.size() - 1);
    const std::string line = JsonExchangeLine(exchange, PortName(exchange.Port()), decoded);
    std::lock_guard guard(m_mutex);
    m_out << line << '\n';
    if (m_flush == LineFlush::EachLine)
        m_out.flush();
}

void CJsonSink::OnEvent(const WireEvent& event)
{
    const std::string line = JsonEventLine(event, PortName(event.port));
    std::lock_guard guard(m_mutex);
    m_out << line << '\n';
    if (m_flush == LineFlush::EachLine)
        m_out.flush();
}

void CJsonSink::OnMessage(std::int64_t timeNs, std::string_view text)
{
    const std::string line = JsonMessageLine(timeNs, text);
    std::lock_guard guard(m_mutex);
    m_out << line << '\n';
    if (m_flush == LineFlush::EachLine)
        m_out.flush();
}

} // namespace orvex
