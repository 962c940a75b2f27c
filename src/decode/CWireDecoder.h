#pragma once

#include "capture/CDecodedSink.h"
#include "capture/WireFrame.h"
#include "decode/CExchangeLog.h"
#include "decode/CLogSink.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// How watched and recorded exchanges are written: the options the tool's
// own log has.
struct WireLogOptions {
    bool raw { false };    // add the record lines
    bool decode { true };  // decode the request and the reply
    HeaderClock clock { HeaderClock::Seconds };
};

// Turns assembled exchanges into the exchange log's own lines (the same
// decoders, the same text as for an exchange the tool sent itself) and
// hands each exchange with its lines to the sinks.
class CWireDecoder : public CExchangeListener {
public:
    CWireDecoder(std::vector<CDecodedSink*> sinks, WireLogOptions options);

    void OnExchange(const WireExchange& exchange) override;
    void OnEvent(const WireEvent& event) override;

private:
    class CCollector : public CLogSink {
    public:
        void AddLine(std::string_view line) override { lines.emplace_back(line); }
        void SelectLastLine() override { }
        void SetStatusText(std::string_view) override { }
        std::vector<std::string> lines;
    };

    std::vector<CDecodedSink*> m_sinks;
    CCollector m_collector;
    CExchangeLog m_log;
    int m_address { 0 };
    // Learnt from the BILL TABLE replies seen, as the device interface
    // learns it, so bill events show their values as in the tool's own log.
    std::array<BillTypeEntry, kBillTypes> m_billTable {};
};

// Writes decoded exchanges as log lines (stray frames and tool events as
// lines of their own) to a log sink.
class CLogLinesSink : public CDecodedSink {
public:
    // `ports` names each port number, for the lines of tool events.
    CLogLinesSink(CLogSink& sink, const std::vector<std::string>& ports);

    void OnDecoded(const WireExchange& exchange, std::span<const std::string> lines) override;
    void OnEvent(const WireEvent& event) override;

private:
    CLogSink& m_sink;
    const std::vector<std::string>& m_ports;
};

} // namespace orvex
