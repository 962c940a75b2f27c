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
#include <optional>
#include <sstream>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

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

// The read end's partner for the signal handler: a byte written there wakes
// the main thread's one long wait, whichever thread the signal reached.
std::atomic<int> g_interruptWake { -1 };

extern "C" void OnInterrupt(int)
{
    COrvexCtl::InterruptFlag().store(1);
    const int fd = g_interruptWake.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t put = ::write(fd, &byte, 1);
    }
}

// SIGINT and SIGTERM end polling as unchecking the box does; the previous
// handlers come back afterwards. The main thread sleeps in one wait until
// the end of the run or a signal, rather than waking to look at the flag.
class CInterruptScope {
public:
    CInterruptScope()
    {
        COrvexCtl::InterruptFlag().store(0);
        if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
            m_wake[0] = m_wake[1] = -1;
        g_interruptWake.store(m_wake[1]);
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
        g_interruptWake.store(-1);
        for (int fd : m_wake)
            if (fd >= 0)
                ::close(fd);
    }
    CInterruptScope(const CInterruptScope&) = delete;
    CInterruptScope& operator=(const CInterruptScope&) = delete;

    // Waits until `deadline` (none when it is null) or a signal.
    void Wait(const std::optional<std::chrono::steady_clock::time_point>& deadline) const
    {
        while (COrvexCtl::InterruptFlag().load() == 0) {
            timespec left {};
            timespec* timeout = nullptr;
            if (deadline) {
                const auto now = std::chrono::steady_clock::now();
                if (now >= *deadline)
                    return;
                const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(*deadline - now).count();
                left.tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
                left.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
                timeout = &left;
            }
            if (m_wake[0] >= 0) {
                pollfd entry { m_wake[0], POLLIN, 0 };
                ppoll(&entry, 1, timeout, nullptr);
                continue;
            }
            // Without the pipe, the flag is looked at ten times a second.
            timespec slice { 0, 100000000 };
            if (timeout && left.tv_sec == 0 && left.tv_nsec < slice.tv_nsec)
                slice = left;
            nanosleep(&slice, nullptr);
        }
    }

private:
    struct sigaction m_previousInterrupt {};
    struct sigaction m_previousTerminate {};
    int m_wake[2] { -1, -1 };
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
    return status;
}

} // namespace orvex
