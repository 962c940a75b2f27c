#include "cli/CWirePipeline.h"

#include "Version.h"

namespace orvex {

CWirePipeline::CWirePipeline(const WireOptions& options, WireLogOptions log, std::ostream& out, PipelineText text,
    LineFlush flush)
    : m_options(options)
{
    std::vector<CDecodedSink*> sinks;
    if (options.json) {
        m_json = std::make_unique<CJsonSink>(out, m_ports, flush);
        sinks.push_back(m_json.get());
    } else if (text == PipelineText::Print) {
        m_stream = std::make_unique<CStreamSink>(out, flush);
        m_lines = std::make_unique<CLogLinesSink>(*m_stream, m_ports);
        sinks.push_back(m_lines.get());
    }
    if (!options.capturePath.empty()) {
        m_capture = std::make_unique<CCaptureSink>(m_writer, m_ports);
        sinks.push_back(m_capture.get());
    }
    m_decoder = std::make_unique<CWireDecoder>(std::move(sinks), log);
}

bool CWirePipeline::Open(std::string& error)
{
    if (m_options.capturePath.empty())
        return true;
    if (!m_writer.Open(m_options.capturePath, "orvexctl " ORVEX_VERSION)) {
        error = m_writer.Error();
        return false;
    }
    return true;
}

std::string CWirePipeline::Close()
{
    if (m_options.capturePath.empty())
        return {};
    m_writer.Close();
    return m_writer.Error();
}

} // namespace orvex
