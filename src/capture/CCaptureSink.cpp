#include "capture/CCaptureSink.h"

namespace orvex {

CCaptureSink::CCaptureSink(CPcapngWriter& writer, const std::vector<std::string>& ports)
    : m_writer(writer)
    , m_ports(ports)
{
}

int CCaptureSink::InterfaceOf(int port)
{
    if (port >= 0 && static_cast<std::size_t>(port) < m_ports.size())
        return m_writer.Interface(m_ports[static_cast<std::size_t>(port)]);
    return m_writer.Interface("port " + std::to_string(port));
}

void CCaptureSink::OnDecoded(const WireExchange& exchange, std::span<const std::string> lines)
{
    // The separator says nothing a packet comment needs.
    m_comment.clear();
    for (std::size_t index = 0; index < lines.size(); ++index) {
        if (index + 1 == lines.size() && lines[index].size() > 0 && lines[index].find_first_not_of('-') == std::string::npos)
            break;
        if (!m_comment.empty())
            m_comment += '\n';
        m_comment += lines[index];
    }
    for (std::size_t index = 0; index < exchange.frames.size(); ++index) {
        const WireFrame& frame = exchange.frames[index];
        const bool last = index + 1 == exchange.frames.size();
        m_writer.AddFrame(InterfaceOf(frame.port), frame, last ? std::string_view(m_comment) : std::string_view());
    }
    m_writer.Flush();
}

void CCaptureSink::OnEvent(const WireEvent& event)
{
    m_writer.AddEvent(InterfaceOf(event.port), event.timeNs, event.text);
    m_writer.Flush();
}

} // namespace orvex
