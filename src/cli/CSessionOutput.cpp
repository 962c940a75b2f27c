#include "cli/CSessionOutput.h"

#include "decode/CExchangeLog.h"
#include "link/CCOMPort.h"
#include "link/CLineTap.h"

#include <ostream>

namespace orvex {

// Under --json the tool's free-standing lines (messages, search texts)
// become objects of their own; separators say nothing to a program.
class CSessionOutput::CJsonMessages : public CLogSink, public COutputInterface {
public:
    explicit CJsonMessages(CJsonSink& json)
        : m_json(json)
    {
    }
    void AddLine(std::string_view line) override
    {
        if (line != CExchangeLog::kSeparator)
            m_json.OnMessage(WallClockNanoseconds(), line);
    }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }
    void OutputLine(std::string line) override { AddLine(line); }
    // The exchange itself comes through the port's tap.
    void OnCommandDone(std::string) override { }

private:
    CJsonSink& m_json;
};

CSessionOutput::CSessionOutput(const WireOptions& options, bool raw, bool decode, std::ostream& out, std::string portName)
    : m_options(options)
{
    m_stream = std::make_unique<CStreamSink>(out);
    if (options.json || !options.capturePath.empty()) {
        const WireLogOptions log { raw, decode, options.timestamps ? HeaderClock::Microseconds : HeaderClock::Seconds };
        m_pipeline = std::make_unique<CWirePipeline>(options, log, out, PipelineText::Leave, LineFlush::EachLine);
        m_pipeline->Ports().push_back(std::move(portName));
        m_assembler = std::make_unique<CExchangeAssembler>(m_pipeline->Listener());
        m_tap = std::make_unique<CPortTap>(*m_assembler, 0, BusRole::Controller);
    }
    if (options.json)
        m_messages = std::make_unique<CJsonMessages>(*m_pipeline->Json());
}

CSessionOutput::~CSessionOutput()
{
    if (m_port)
        m_port->SetTap(nullptr);
}

bool CSessionOutput::Open(std::string& error) { return !m_pipeline || m_pipeline->Open(error); }

CLogSink& CSessionOutput::Sink()
{
    if (m_messages)
        return *m_messages;
    return *m_stream;
}

void CSessionOutput::Attach(CCOMPort& port)
{
    if (!m_tap)
        return;
    m_port = &port;
    port.SetTap(m_tap.get());
}

COutputInterface* CSessionOutput::Observer(CExchangeLog& log)
{
    log.SetHeaderClock(m_options.timestamps ? HeaderClock::Microseconds : HeaderClock::Seconds);
    if (m_messages)
        return m_messages.get();
    return &log;
}

int CSessionOutput::Finish(int status, std::ostream& err)
{
    if (m_port) {
        m_port->SetTap(nullptr);
        m_port = nullptr;
    }
    if (!m_pipeline)
        return status;
    m_tap->Finish();
    const std::string failure = m_pipeline->Close();
    if (failure.empty())
        return status;
    err << "orvexctl: " << failure << '\n';
    return 1;
}

} // namespace orvex
