#include "app/CBusWatch.h"

#include "link/LineMode.h"

namespace orvex {

CBusWatch::CBusWatch(WireWatchSettings settings, CLogSink& log, CDecodedSink* record)
    : m_settings(std::move(settings))
    , m_ports(m_settings.paths)
    , m_lines(log, m_ports)
    , m_record(record)
{
}

CBusWatch::~CBusWatch() = default;

bool CBusWatch::Open(int baud, const WireLogOptions& options, std::string& error)
{
    std::vector<CDecodedSink*> sinks { &m_lines };
    if (m_record)
        sinks.push_back(m_record);
    m_decoder = std::make_unique<CWireDecoder>(std::move(sinks), options);
    m_watch = std::make_unique<CWireWatch>(m_settings, *m_decoder);
    if (m_watch->Open(ModeTextFor(baud), error))
        return true;
    m_watch.reset();
    return false;
}

std::string CBusWatch::Run()
{
    if (!m_watch)
        return {};
    const WireEnd end = m_watch->Run(m_stop);
    return end == WireEnd::PortLost ? m_watch->LossText() : std::string();
}

std::string CBusWatch::StateText() const
{
    if (m_ports.empty())
        return {};
    if (m_settings.kind == WireWatchKind::Relay && m_ports.size() == 2)
        return "Relaying controller " + m_ports[0] + ", unit " + m_ports[1];
    return m_ports.size() == 2 ? "Monitoring " + m_ports[0] + " and " + m_ports[1] : "Monitoring " + m_ports[0];
}

} // namespace orvex
