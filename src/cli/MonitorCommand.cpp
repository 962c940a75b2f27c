#include "cli/MonitorCommand.h"

#include "capture/CaptureFeed.h"

#include "capture/CExchangeAssembler.h"
#include "capture/CPcapngReader.h"
#include "capture/CWireWatch.h"
#include "cli/CInterruptScope.h"
#include "cli/CWirePipeline.h"
#include "cli/WireOptions.h"
#include "link/CPortTable.h"
#include "link/LineMode.h"

#include <algorithm>
#include <chrono>
#include <ostream>

namespace orvex {

namespace {

constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

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

// The pipeline closed after a run that ended well or with `fault`
// (empty for none): the exit status, each failure said on its own line.
int Finish(CWirePipeline& pipeline, const std::string& fault, std::ostream& err)
{
    int status = kSucceeded;
    if (!fault.empty()) {
        err << "orvexctl: " << fault << '\n';
        status = kFailed;
    }
    const std::string failure = pipeline.Close();
    if (!failure.empty()) {
        err << "orvexctl: " << failure << '\n';
        status = kFailed;
    }
    return status;
}

// monitor and relay: the ports opened, watched until a signal, the
// deadline or a lost port.
int RunWatch(const WireCommand& command, WireWatchKind kind, std::ostream& out, std::ostream& err, std::atomic<int>& stop)
{
    CWirePipeline pipeline(command.wire, LogOptions(command), out, PipelineText::Print, LineFlush::EachLine);
    WireWatchSettings settings { kind, {}, command.gapMilliseconds };
    for (const std::string& port : command.ports)
        settings.paths.push_back(PortPath(port));
    pipeline.Ports() = settings.paths;
    std::string error;
    if (!pipeline.Open(error)) {
        err << "orvexctl: " << error << '\n';
        return kFailed;
    }
    CWireWatch watch(settings, pipeline.Listener());
    CInterruptScope interrupts(stop);
    if (!watch.Open(ModeTextFor(command.baud), error)) {
        err << "orvexctl: " << error << '\n';
        pipeline.Close();
        return kFailed;
    }
    const WireEnd end = watch.Run(stop, Deadline(command.seconds));
    return Finish(pipeline, end == WireEnd::PortLost ? watch.LossText() : std::string(), err);
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
    return Finish(pipeline, whole ? std::string() : command.file + ": " + error, err);
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
        return RunWatch(command, WireWatchKind::Monitor, out, err, stop);
    if (command.command == "relay")
        return RunWatch(command, WireWatchKind::Relay, out, err, stop);
    return RunDecode(command, out, err);
}

} // namespace orvex
