#include "cli/MonitorCommand.h"

#include "capture/CaptureFeed.h"

#include "capture/CExchangeAssembler.h"
#include "capture/CPcapngReader.h"
#include "capture/CWireMonitor.h"
#include "capture/CWireRelay.h"
#include "cli/CInterruptScope.h"
#include "cli/CWirePipeline.h"
#include "cli/WireOptions.h"
#include "link/CPortTable.h"

#include <algorithm>
#include <chrono>
#include <ostream>

namespace orvex {

namespace {

constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
// A watched controller's reply time-out is unknown, and the next command
// ends an unanswered one anyway; a command still unanswered after this
// long is shown as timed out without waiting for the next. Generous, so
// that a loaded machine that reads a late reply late does not call it
// missing.
constexpr std::int64_t kReplyWindowNs = 5000000000;

// Only the exchanges asked for: an address, log names.
class CExchangeFilter : public CExchangeListener {
public:
    CExchangeFilter(CExchangeListener& next, int address, std::vector<std::string> names)
        : m_next(next)
        , m_address(address)
        , m_names(std::move(names))
    {
    }
    void OnExchange(const WireExchange& exchange) override
    {
        if (m_address >= 0 && exchange.address != m_address)
            return;
        if (!m_names.empty() && std::find(m_names.begin(), m_names.end(), exchange.name) == m_names.end())
            return;
        m_next.OnExchange(exchange);
    }
    void OnEvent(const WireEvent& event) override
    {
        // Tool events belong to no address and no command.
        if (m_address < 0 && m_names.empty())
            m_next.OnEvent(event);
    }

private:
    CExchangeListener& m_next;
    int m_address;
    std::vector<std::string> m_names;
};

// A COMn name stands for the path the port table gives it.
std::string PortPath(const std::string& name)
{
    if (name.size() > 3 && name.compare(0, 3, "COM") == 0) {
        const CPortTable table = CPortTable::FromEnvironment();
        for (int index = 0; index < CPortTable::kSlots; ++index) {
            if (CPortTable::Name(index) == name && !table.Path(index).empty())
                return table.Path(index);
        }
    }
    return name;
}

std::chrono::steady_clock::time_point Deadline(double seconds)
{
    if (seconds < 0)
        return std::chrono::steady_clock::time_point::max();
    return std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

WireLogOptions LogOptions(const WireCommand& command)
{
    return WireLogOptions { command.raw, command.decode,
        command.wire.timestamps ? HeaderClock::Microseconds : HeaderClock::Seconds };
}

std::string ModeText(int baud) { return baud == 19200 ? "19200,n,8,1" : "9600,n,8,1"; }

// Ends a live run: the capture closed, the loss of a port said.
int Finish(CWirePipeline& pipeline, WireEnd end, const std::string& loss, std::ostream& err)
{
    int status = kSucceeded;
    if (end == WireEnd::PortLost) {
        err << "orvexctl: " << loss << '\n';
        status = kFailed;
    }
    const std::string failure = pipeline.Close();
    if (!failure.empty()) {
        err << "orvexctl: " << failure << '\n';
        status = kFailed;
    }
    return status;
}

int RunMonitor(const WireCommand& command, std::ostream& out, std::ostream& err, std::atomic<int>& stop)
{
    CWirePipeline pipeline(command.wire, LogOptions(command), out, PipelineText::Print, LineFlush::EachLine);
    std::vector<CWireMonitor::Tap> taps;
    if (command.ports.size() == 2) {
        taps.push_back({ PortPath(command.ports[0]), WireDirection::FromController });
        taps.push_back({ PortPath(command.ports[1]), WireDirection::FromDevice });
    } else {
        taps.push_back({ PortPath(command.ports[0]), WireDirection::Unknown });
    }
    for (const CWireMonitor::Tap& tap : taps)
        pipeline.Ports().push_back(tap.path);
    std::string error;
    if (!pipeline.Open(error)) {
        err << "orvexctl: " << error << '\n';
        return kFailed;
    }
    CExchangeAssembler assembler(pipeline.Listener(),
        { static_cast<std::int64_t>(command.gapMilliseconds) * 1000000, kReplyWindowNs, taps.size() == 2 });
    CWireMonitor monitor(taps, assembler);
    CInterruptScope interrupts(stop);
    if (!monitor.Open(ModeText(command.baud), error)) {
        err << "orvexctl: " << error << '\n';
        pipeline.Close();
        return kFailed;
    }
    const WireEnd end = monitor.Run(stop, Deadline(command.seconds));
    assembler.Finish();
    return Finish(pipeline, end, monitor.LossText(), err);
}

int RunRelay(const WireCommand& command, std::ostream& out, std::ostream& err, std::atomic<int>& stop)
{
    CWirePipeline pipeline(command.wire, LogOptions(command), out, PipelineText::Print, LineFlush::EachLine);
    const std::string controller = PortPath(command.ports[0]);
    const std::string device = PortPath(command.ports[1]);
    pipeline.Ports() = { controller, device };
    std::string error;
    if (!pipeline.Open(error)) {
        err << "orvexctl: " << error << '\n';
        return kFailed;
    }
    CExchangeAssembler assembler(pipeline.Listener(),
        { static_cast<std::int64_t>(command.gapMilliseconds) * 1000000, kReplyWindowNs });
    CWireRelay relay(controller, device, assembler);
    CInterruptScope interrupts(stop);
    if (!relay.Open(ModeText(command.baud), error)) {
        err << "orvexctl: " << error << '\n';
        pipeline.Close();
        return kFailed;
    }
    const WireEnd end = relay.Run(stop, Deadline(command.seconds));
    assembler.Finish();
    return Finish(pipeline, end, relay.LossText(), err);
}

int RunDecode(const WireCommand& command, std::ostream& out, std::ostream& err)
{
    CCaptureFile file;
    if (!file.Open(command.file)) {
        err << "orvexctl: " << file.Error() << '\n';
        return kFailed;
    }
    CWirePipeline pipeline(command.wire, LogOptions(command), out, PipelineText::Print, LineFlush::Buffered);
    std::string error;
    if (!pipeline.Open(error)) {
        err << "orvexctl: " << error << '\n';
        return kFailed;
    }
    CExchangeFilter filter(pipeline.Listener(), command.address, command.names);
    CExchangeAssembler assembler(filter);
    const bool whole = FeedCapture(file.Bytes(), assembler, pipeline.Ports(), error);
    out.flush();
    int status = kSucceeded;
    if (!whole) {
        err << "orvexctl: " << command.file << ": " << error << '\n';
        status = kFailed;
    }
    const std::string failure = pipeline.Close();
    if (!failure.empty()) {
        err << "orvexctl: " << failure << '\n';
        status = kFailed;
    }
    return status;
}

} // namespace

int RunWireCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, std::atomic<int>& stop)
{
    WireCommand command;
    std::string error;
    if (!ParseWireCommand(arguments, command, error)) {
        err << "orvexctl: " << error << '\n';
        return kUsage;
    }
    if (command.command == "monitor")
        return RunMonitor(command, out, err, stop);
    if (command.command == "relay")
        return RunRelay(command, out, err, stop);
    return RunDecode(command, out, err);
}

} // namespace orvex
