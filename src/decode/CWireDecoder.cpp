#include "decode/CWireDecoder.h"

#include "capture/WireRecord.h"
#include "protocol/CKRMSProtocol.h"
#include "protocol/CReplyView.h"
#include "protocol/ResultCodes.h"

namespace orvex {

CWireDecoder::CWireDecoder(std::vector<CDecodedSink*> sinks, WireLogOptions options)
    : m_sinks(std::move(sinks))
    , m_log(nullptr, m_collector)
{
    m_log.SetRawFrames(options.raw ? 1 : 0);
    m_log.SetDecodeFlag(options.decode ? 1 : 0);
    m_log.SetHeaderClock(options.clock);
    // The decoders that tell a Cyclor unit from a validator read the
    // address list's choice, which is the bus address.
    m_log.SetContextSource([this] {
        DecodeContext context;
        context.deviceChoice = m_address >= 0 && m_address <= 4 ? m_address : 0;
        context.billTable = m_billTable;
        return context;
    });
}

void CWireDecoder::OnExchange(const WireExchange& exchange)
{
    m_collector.lines.clear();
    if (exchange.kind == WireExchangeKind::Stray) {
        m_collector.lines.push_back(StrayLine(exchange));
        m_collector.lines.emplace_back(CExchangeLog::kSeparator);
    } else {
        m_address = exchange.address;
        m_log.WriteExchangeAt(exchange.name, RecordOf(exchange), exchange.TimeNs());
        if (exchange.name == "BILL TABLE" && exchange.result == kOk && exchange.frames.size() > 1) {
            const std::vector<std::uint8_t>& bytes = exchange.frames[1].bytes;
            const CCommand reply(bytes.data(), 0, static_cast<int>(bytes.size()));
            CKRMSProtocol::FillBillTable(CReplyView(reply), m_billTable.data());
        }
    }
    for (CDecodedSink* sink : m_sinks)
        sink->OnDecoded(exchange, m_collector.lines);
}

void CWireDecoder::OnEvent(const WireEvent& event)
{
    for (CDecodedSink* sink : m_sinks)
        sink->OnEvent(event);
}

CLogLinesSink::CLogLinesSink(CLogSink& sink, const std::vector<std::string>& ports)
    : m_sink(sink)
    , m_ports(ports)
{
}

void CLogLinesSink::OnDecoded(const WireExchange&, std::span<const std::string> lines)
{
    for (const std::string& line : lines)
        m_sink.AddLine(line);
}

void CLogLinesSink::OnEvent(const WireEvent& event)
{
    std::string line = event.port >= 0 && static_cast<std::size_t>(event.port) < m_ports.size()
        ? m_ports[static_cast<std::size_t>(event.port)]
        : "port " + std::to_string(event.port);
    line += ": " + event.text;
    m_sink.AddLine(line);
    m_sink.AddLine(CExchangeLog::kSeparator);
}

} // namespace orvex
