#include "cli/COrvexCtl.h"

#include "app/CApplication.h"
#include "app/COperatorPanel.h"
#include "app/CPanelObserver.h"
#include "app/CStartupObserver.h"
#include "cli/CInterruptScope.h"
#include "cli/CSessionOutput.h"
#include "cli/CStreamSink.h"
#include "cli/MonitorCommand.h"
#include "decode/CExchangeLog.h"
#include "decode/CLogSink.h"
#include "link/CCOMPort.h"
#include "link/LineMode.h"
#include "link/PortDescription.h"

#include "Version.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace orvex {

namespace {

// Message boxes of the panel go to standard error, before the result line.
class CMessageObserver : public CPanelObserver {
public:
    explicit CMessageObserver(std::ostream& err)
        : m_err(err)
    {
    }
    void OnMessage(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        m_err << text << '\n' << std::flush;
        m_messages = true;
    }
    bool TakeMessages()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_messages, false);
    }

private:
    std::mutex m_mutex; // guards m_err and m_messages
    std::ostream& m_err;
    bool m_messages { false };
};

// The search window's texts and the message boxes of the start-up are
// lines of standard output, in order with the log lines.
class CSearchPrinter : public CStartupObserver {
public:
    explicit CSearchPrinter(CLogSink& sink)
        : m_sink(sink)
    {
    }
    void OnSearchText(const std::string& text) override { m_sink.AddLine(text); }
    void OnMessage(const std::string& text) override { m_sink.AddLine(text); }

private:
    CLogSink& m_sink;
};

CPortTable TableFor(const CliOptions& options)
{
    if (!options.portPath.empty())
        return CPortTable(std::vector<std::string> { options.portPath });
    return CPortTable::FromEnvironment();
}

// The port's name in a capture: its device path, or COMn.
std::string PortName(const CliOptions& options)
{
    if (!options.portPath.empty())
        return options.portPath;
    const CPortTable table = CPortTable::FromEnvironment();
    const std::string& path = table.Path(options.portIndex);
    return path.empty() ? CPortTable::Name(options.portIndex) : path;
}

} // namespace

COrvexCtl::COrvexCtl(std::ostream& out, std::ostream& err, std::istream& in)
    : m_out(out)
    , m_err(err)
    , m_in(in)
{
}

std::atomic<int>& COrvexCtl::InterruptFlag()
{
    static std::atomic<int> flag { 0 };
    return flag;
}

int COrvexCtl::Run(const std::vector<std::string>& arguments)
{
    if (IsWireCommand(arguments))
        return RunWireCommand(arguments, m_out, m_err, InterruptFlag());
    std::vector<std::string> rest = arguments;
    WireOptions wire;
    std::string error;
    if (!ExtractWireOptions(rest, wire, error)) {
        m_err << "orvexctl: " << error << '\n';
        return kUsage;
    }
    CliParseResult parsed = ParseArguments(rest);
    if (!parsed.ok) {
        m_err << "orvexctl: " << parsed.error << '\n';
        return kUsage;
    }
    parsed.options.wire = wire;
    return Run(parsed.options);
}

int COrvexCtl::Run(const CliOptions& options)
{
    if (options.help) {
        m_out << UsageText();
        return kSucceeded;
    }
    if (options.version) {
        m_out << "orvexctl " ORVEX_VERSION "\n";
        return kSucceeded;
    }
    if (options.command == "ports")
        return RunPorts(options);
    if (options.command == "search")
        return RunSearch(options);
    return RunSession(options);
}

int COrvexCtl::RunPorts(const CliOptions& options)
{
    CCOMPort port(TableFor(options));
    const CPortTable table = port.GetPortTable();
    for (int index = 0; index < CPortTable::kSlots; ++index) {
        const std::string& path = table.Path(index);
        m_out << CPortTable::Name(index) << ' ' << (path.empty() ? "-" : path) << ' ' << port.GetPortError(index)
              << (path.empty() ? std::string() : DescribePortColumns(DescribePort(path))) << '\n';
    }
    return kSucceeded;
}

int COrvexCtl::RunSearch(const CliOptions& options)
{
    CApplication application(TableFor(options));
    CSessionOutput output(options.wire, options.raw, options.decode, m_out, PortName(options));
    std::string error;
    if (!output.Open(error)) {
        m_err << "orvexctl: " << error << '\n';
        return kFailed;
    }
    CLogSink& sink = output.Sink();
    CExchangeLog log(&application.Protocol(), sink);
    log.SetDecodeFlag(options.decode ? 1 : 0);
    log.SetRawFrames(options.raw ? 1 : 0);
    output.Attach(*application.Protocol().GetPort());
    application.Protocol().SetObserver(output.Observer(log));
    application.Device().SetIntercommandInterval(options.intercommand);
    CSearchPrinter printer(sink);
    application.Startup(options.searchWords, printer);
    application.Protocol().SetObserver(nullptr);
    const bool setMode = application.GetCommandLine().setMode;
    int status = kSucceeded;
    if (!setMode && application.GetFoundPort() == CApplication::kNoPort)
        status = kFailed;
    else if (application.GetStartupCode() != 0)
        status = kFailed;
    return output.Finish(status, m_err);
}

int COrvexCtl::RunSession(const CliOptions& options)
{
    // A script is read and checked whole before anything is sent.
    std::vector<CliCommand> commands;
    if (options.command == "script") {
        std::string text;
        if (options.scriptPath == "-") {
            text.assign(std::istreambuf_iterator<char>(m_in), std::istreambuf_iterator<char>());
        } else {
            std::ifstream file(options.scriptPath, std::ios::binary);
            if (!file) {
                m_err << "orvexctl: " << options.scriptPath << ": cannot be read\n";
                return kUsage;
            }
            text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
        std::string error;
        if (!ParseScript(text, BaseMembers(options), commands, error)) {
            m_err << "orvexctl: " << options.scriptPath << ": " << error << '\n';
            return kUsage;
        }
    } else if (options.command != "polling") {
        commands.push_back(options.button);
    }

    CApplication application(TableFor(options));
    CSessionOutput output(options.wire, options.raw, options.decode, m_out, PortName(options));
    std::string error;
    if (!output.Open(error)) {
        m_err << "orvexctl: " << error << '\n';
        return kFailed;
    }
    CLogSink& sink = output.Sink();
    CExchangeLog log(&application.Protocol(), sink);
    output.Attach(*application.Protocol().GetPort());
    COperatorPanel panel(application.Device(), application.Engine(), &log, &sink);
    CMessageObserver observer(m_err);
    panel.SetObserver(&observer);

    panel.ApplyTiming({ options.timeout, options.pollInterval, options.intercommand, 0 });
    application.Protocol().SetSerialMode(ModeTextFor(options.baud));
    if (application.Device().OpenPort(options.portIndex, options.timeout) == 0) {
        m_err << "orvexctl: " << application.Protocol().GetPort()->DescribePortError(options.portIndex) << '\n';
        return output.Finish(kFailed, m_err);
    }
    application.Engine().SetDeviceAddress(options.address);
    application.Protocol().SetObserver(output.Observer(log));
    panel.SetMembers(BaseMembers(options));
    panel.CommunicationDataBox();
    panel.DisplayExchangeBox();
    if (options.rts != RtsChoice::Untouched)
        panel.RtsBox();

    int status = kSucceeded;
    if (options.command == "polling") {
        CInterruptScope interrupts(InterruptFlag());
        panel.SetMembers(options.button.members);
        panel.ReturnBox();
        panel.ResetOnErrorBox();
        if (!panel.StartPolling()) {
            m_err << "orvexctl: polling: the engine's thread could not be started\n";
            status = kFailed;
        } else {
            std::optional<std::chrono::steady_clock::time_point> end;
            if (options.seconds >= 0)
                end = std::chrono::steady_clock::now()
                    + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(options.seconds));
            interrupts.Wait(end);
            panel.StopPolling();
        }
    }
    for (const CliCommand& command : commands) {
        panel.SetMembers(command.members);
        const COperatorPanel::Outcome outcome = panel.Run(command.id.value());
        if (outcome == COperatorPanel::Outcome::NothingSent && !observer.TakeMessages()) {
            m_err << "orvexctl: " << command.name << ": nothing sent"
                  << (command.name == "poll" ? " to the card reader address" : "") << '\n';
        }
        observer.TakeMessages();
        m_err << panel.GetResultLine() << '\n' << std::flush;
        if (outcome != COperatorPanel::Outcome::Succeeded)
            status = kFailed;
    }
    application.Protocol().SetObserver(nullptr);
    return output.Finish(status, m_err);
}

} // namespace orvex
