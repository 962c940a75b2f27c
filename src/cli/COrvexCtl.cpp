#include "cli/COrvexCtl.h"

#include "app/CApplication.h"
#include "app/COperatorPanel.h"
#include "app/CPanelObserver.h"
#include "app/CStartupObserver.h"
#include "decode/CExchangeLog.h"
#include "decode/CLogSink.h"
#include "link/CCOMPort.h"
#include "link/ProgramValues.h"

#include "Version.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

namespace orvex {

namespace {

// The log list is standard output: one line per log line, flushed at once
// so that a stopped run leaves whole lines behind.
class CStreamSink : public CLogSink {
public:
    explicit CStreamSink(std::ostream& out)
        : m_out(out)
    {
    }
    void AddLine(std::string_view line) override
    {
        std::lock_guard lock(m_mutex);
        m_out << line << '\n' << std::flush;
    }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }

private:
    std::mutex m_mutex; // guards m_out: the engine's thread writes too
    std::ostream& m_out;
};

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

const char* ModeText(int baud) { return baud == 19200 ? "19200,n,8,1" : "9600,n,8,1"; }

extern "C" void OnInterrupt(int) { COrvexCtl::InterruptFlag().store(1); }

// SIGINT and SIGTERM end polling as unchecking the box does; the previous
// handlers come back afterwards.
class CInterruptScope {
public:
    CInterruptScope()
    {
        COrvexCtl::InterruptFlag().store(0);
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_previousInterrupt);
        sigaction(SIGTERM, &action, &m_previousTerminate);
    }
    ~CInterruptScope()
    {
        sigaction(SIGINT, &m_previousInterrupt, nullptr);
        sigaction(SIGTERM, &m_previousTerminate, nullptr);
    }
    CInterruptScope(const CInterruptScope&) = delete;
    CInterruptScope& operator=(const CInterruptScope&) = delete;

private:
    struct sigaction m_previousInterrupt {};
    struct sigaction m_previousTerminate {};
};

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
    const CliParseResult parsed = ParseArguments(arguments);
    if (!parsed.ok) {
        m_err << "orvexctl: " << parsed.error << '\n';
        return kUsage;
    }
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
    const CPortTable& table = port.GetPortTable();
    for (int index = 0; index < CPortTable::kSlots; ++index) {
        const std::string& path = table.Path(index);
        m_out << CPortTable::Name(index) << ' ' << (path.empty() ? "-" : path) << ' ' << port.GetPortError(index) << '\n';
    }
    return kSucceeded;
}

int COrvexCtl::RunSearch(const CliOptions& options)
{
    CApplication application(TableFor(options));
    CStreamSink sink(m_out);
    CExchangeLog log(&application.Protocol(), sink);
    log.SetDecodeFlag(options.decode ? 1 : 0);
    log.SetRawFrames(options.raw ? 1 : 0);
    application.Protocol().SetObserver(&log);
    application.Device().SetIntercommandInterval(options.intercommand);
    CSearchPrinter printer(sink);
    application.Startup(options.searchWords, printer);
    application.Protocol().SetObserver(nullptr);
    const bool setMode = application.GetCommandLine().setMode;
    if (!setMode && application.GetFoundPort() == CApplication::kNoPort)
        return kFailed;
    return application.GetStartupCode() == 0 ? kSucceeded : kFailed;
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
    CStreamSink sink(m_out);
    CExchangeLog log(&application.Protocol(), sink);
    COperatorPanel panel(application.Device(), application.Engine(), &log, &sink);
    CMessageObserver observer(m_err);
    panel.SetObserver(&observer);

    panel.ApplyTiming({ options.timeout, options.pollInterval, options.intercommand, 0 });
    CProgramValues::Instance().SetSerialMode(ModeText(options.baud));
    if (application.Device().OpenPort(options.portIndex, options.timeout) == 0) {
        m_err << "orvexctl: " << application.Protocol().GetPort()->DescribePortError(options.portIndex) << '\n';
        return kFailed;
    }
    application.Engine().SetDeviceAddress(options.address);
    application.Protocol().SetObserver(&log);
    panel.SetMembers(BaseMembers(options));
    panel.CommunicationDataBox();
    panel.DisplayExchangeBox();
    if (options.rts != RtsChoice::Untouched)
        panel.RtsBox();

    int status = kSucceeded;
    if (options.command == "polling") {
        CInterruptScope interrupts;
        panel.SetMembers(options.button.members);
        panel.ReturnBox();
        panel.ResetOnErrorBox();
        if (!panel.StartPolling()) {
            m_err << "orvexctl: polling: the engine's thread could not be started\n";
            status = kFailed;
        } else {
            const auto start = std::chrono::steady_clock::now();
            const auto limit = std::chrono::duration<double>(options.seconds);
            // A signal is looked for ten times a second; the end comes on time.
            while (InterruptFlag().load() == 0) {
                std::chrono::steady_clock::duration slice = std::chrono::milliseconds(100);
                if (options.seconds >= 0) {
                    const std::chrono::duration<double> left = limit - (std::chrono::steady_clock::now() - start);
                    if (left.count() <= 0)
                        break;
                    if (left < slice)
                        slice = std::chrono::duration_cast<std::chrono::steady_clock::duration>(left);
                }
                std::this_thread::sleep_for(slice);
            }
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
    return status;
}

} // namespace orvex
