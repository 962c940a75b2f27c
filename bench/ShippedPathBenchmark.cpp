// The shipped polling path, measured from outside: orvexctl polling
// orvex-sim with `--poll-interval 0 --intercommand 0` (both child
// processes), and the CVMC engine in this process as the window runs it.
// The figure per polled exchange is marginal: the difference of a short and
// a long run, divided by the difference of the exchanges the simulator
// answered, so that start-up and tear-down drop out. Beside it the counts
// that do not depend on the load of the machine: sleeps (context switches)
// and system calls (strace -c -f) per exchange, and a plain sleeper on the
// same period as the reference for what one wake-up costs on this machine.

#include "support/BenchOptions.h"
#include "support/CDiscardSink.h"
#include "support/CSimProcess.h"
#include "support/ProcessFigures.h"

#include "decode/CExchangeLog.h"
#include "device/CKRMSInterface.h"
#include "link/CPortTable.h"
#include "link/Frame.h"
#include "link/WireVocabulary.h"
#include "vmc/CVMC.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace orvex {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCyclorAddress = 1;
// Polling mode adds 100 ms to the poll interval box; the box is 0 here.
constexpr int kPollingPeriodMilliseconds = 100;
// The first POLL answered IDLING: the unit is ready and its bills enabled,
// the start-up sequence is over and the steady loop has begun.
constexpr std::string_view kSteadyLine = "<- IDLING";

double Seconds(const timeval& value)
{
    return static_cast<double>(value.tv_sec) + static_cast<double>(value.tv_usec) / 1e6;
}

// CPU time and sleeps (voluntary context switches) of every thread of a
// process, from /proc/PID/task/*/schedstat and status.
double ProcessCpuSeconds(pid_t pid, long long& sleeps)
{
    sleeps = 0;
    std::string directory = "/proc/" + std::to_string(pid) + "/task";
    DIR* tasks = opendir(directory.c_str());
    if (!tasks)
        return -1;
    double total = 0;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream file(directory + "/" + entry->d_name + "/schedstat");
        long long nanoseconds = 0;
        if (file >> nanoseconds)
            total += static_cast<double>(nanoseconds) / 1e9;
        std::ifstream status(directory + "/" + entry->d_name + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                sleeps += std::atoll(line.c_str() + line.find(':') + 1);
    }
    closedir(tasks);
    return total;
}

// System calls by name from strace's -c table; "total" among them.
std::map<std::string, long long> ReadStraceTable(const std::string& path)
{
    std::map<std::string, long long> calls;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;)
            words.push_back(word);
        // % time, seconds, usecs/call, calls, [errors], name
        if (words.size() < 5 || words[0].find_first_not_of("0123456789.") != std::string::npos)
            continue;
        calls[words.back()] = std::atoll(words[3].c_str());
    }
    return calls;
}

bool HaveStrace()
{
    return std::system("strace -V >/dev/null 2>&1") == 0;
}

// A thread that sleeps the polling period over and over for as long as it
// lives: the CPU one wake-up costs on this machine at that period.
class CPlainSleeper {
public:
    CPlainSleeper()
        : m_thread([this] { Run(); })
    {
    }
    ~CPlainSleeper() { Stop(); }
    CPlainSleeper(const CPlainSleeper&) = delete;
    CPlainSleeper& operator=(const CPlainSleeper&) = delete;

    // Ends the thread; the CPU per wake-up in µs.
    double Stop()
    {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
        return m_wakeups > 0 ? m_cpuMicroseconds / static_cast<double>(m_wakeups) : 0;
    }

private:
    void Run()
    {
        // The first wake-up comes from a running start; it is not counted.
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollingPeriodMilliseconds));
        const auto start = ThreadCpuTime();
        long long wakeups = 0;
        while (!m_stop.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollingPeriodMilliseconds));
            ++wakeups;
        }
        m_cpuMicroseconds = std::chrono::duration<double, std::micro>(ThreadCpuTime() - start).count();
        m_wakeups = wakeups;
    }

    std::atomic<bool> m_stop { false };
    double m_cpuMicroseconds { 0 };
    long long m_wakeups { 0 };
    std::thread m_thread;
};

// The floor of this design on this machine: a bare loop with none of our
// code in its path making the shipped path's system calls per exchange
// (purge, POLL, wait for the reply, purge, ACK) at the same 100 ms
// period, against a simulator of its own. At ten polls a second each
// wake-up starts cold, and that, not the engine, is most of the figure.
class CBareLoop {
public:
    bool Start(const std::string& slavePath)
    {
        m_fd = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd < 0)
            return false;
        termios mode {};
        tcgetattr(m_fd, &mode);
        cfmakeraw(&mode);
        cfsetspeed(&mode, B19200);
        tcsetattr(m_fd, TCSANOW, &mode);
        m_thread = std::thread([this] { Run(); });
        return true;
    }
    ~CBareLoop() { Stop(); }
    CBareLoop() = default;
    CBareLoop(const CBareLoop&) = delete;
    CBareLoop& operator=(const CBareLoop&) = delete;

    // Ends the loop; the CPU per answered exchange in µs (0 if none).
    double Stop()
    {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return m_exchanges > 0 ? m_cpuMicroseconds / static_cast<double>(m_exchanges) : 0;
    }

private:
    bool Exchange(const std::vector<std::uint8_t>& poll, const std::vector<std::uint8_t>& ack)
    {
        tcflush(m_fd, TCIOFLUSH);
        if (::write(m_fd, poll.data(), poll.size()) != static_cast<ssize_t>(poll.size()))
            return false;
        std::uint8_t reply[256];
        std::size_t got = 0;
        // The third byte is the reply's whole length.
        while (got < 3 || got < reply[2]) {
            pollfd entry { m_fd, POLLIN, 0 };
            if (::poll(&entry, 1, 200) <= 0)
                return false;
            const ssize_t n = ::read(m_fd, reply + got, sizeof reply - got);
            if (n <= 0)
                return false;
            got += static_cast<std::size_t>(n);
        }
        tcflush(m_fd, TCIFLUSH);
        return ::write(m_fd, ack.data(), ack.size()) == static_cast<ssize_t>(ack.size());
    }

    void Run()
    {
        const auto poll = BuildCommandFrame(kCyclorAddress, wire::kPoll);
        const auto ack = BuildAck(kCyclorAddress);
        // The first exchange comes from a running start; it is not counted.
        Exchange(poll, ack);
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollingPeriodMilliseconds));
        const auto start = ThreadCpuTime();
        long long exchanges = 0;
        while (!m_stop.load()) {
            if (Exchange(poll, ack))
                ++exchanges;
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollingPeriodMilliseconds));
        }
        m_cpuMicroseconds = std::chrono::duration<double, std::micro>(ThreadCpuTime() - start).count();
        m_exchanges = exchanges;
    }

    int m_fd { -1 };
    std::atomic<bool> m_stop { false };
    double m_cpuMicroseconds { 0 };
    long long m_exchanges { 0 };
    std::thread m_thread;
};

struct OrvexctlRun {
    double cpuSeconds { 0 };
    long long wakeups { 0 };
    long long exchanges { 0 };
    double startupCpuMilliseconds { -1 };
    long long startupWakeups { 0 };
    bool steady { false };
    std::map<std::string, long long> syscalls;
    int status { -1 };
    std::string error;
};

// One run of orvexctl polling a fresh simulator for `seconds`; under strace
// when `tracePath` is not empty (then only the system calls count).
OrvexctlRun RunOrvexctl(const std::string& ctl, const std::string& simulator, long long seconds,
    const std::string& tracePath)
{
    OrvexctlRun run;
    CSimProcess sim;
    if (!sim.Start(simulator, { "--pty", "--device", "cy" })) {
        run.error = sim.Error();
        return run;
    }
    std::vector<std::string> arguments;
    if (!tracePath.empty())
        arguments = { "strace", "-f", "-c", "-o", tracePath };
    for (std::string word : { ctl, std::string("--port"), sim.SlavePath(), std::string("--address"), std::string("1"),
             std::string("--poll-interval"), std::string("0"), std::string("--intercommand"), std::string("0"),
             std::string("polling"), std::string("--seconds"), std::to_string(seconds) })
        arguments.push_back(std::move(word));
    const std::string program = arguments.front();

    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        run.error = std::string("pipe: ") + std::strerror(errno);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int error = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    if (error != 0) {
        ::close(output[0]);
        run.error = program + ": " + std::strerror(error);
        return run;
    }

    // Standard output is read as orvexctl writes it, as a terminal would;
    // its CPU is taken when the first steady poll's line comes.
    std::string pending;
    char chunk[4096];
    for (;;) {
        ssize_t got = ::read(output[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (run.steady)
            continue;
        pending.append(chunk, static_cast<std::size_t>(got));
        if (pending.find(kSteadyLine) == std::string::npos)
            continue;
        run.steady = true;
        if (tracePath.empty())
            run.startupCpuMilliseconds = 1000 * ProcessCpuSeconds(pid, run.startupWakeups);
        if (pending.size() > 65536)
            pending.erase(0, pending.size() - 64);
    }
    ::close(output[0]);
    rusage usage {};
    int status = 0;
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    // Sleeps only: the involuntary switches count the load beside it.
    run.wakeups = usage.ru_nvcsw;
    std::string answer = sim.Ask("state", "answered=");
    auto at = answer.find("answered=");
    run.exchanges = at == std::string::npos ? -1 : std::atoll(answer.c_str() + at + 9);
    if (run.exchanges < 0)
        run.error = "orvex-sim did not tell how many exchanges it answered";
    else if (!run.steady)
        run.error = "orvexctl did not reach the steady loop (" + std::string(kSteadyLine) + ") within "
            + std::to_string(seconds) + " s: a longer --short-seconds is needed";
    if (!tracePath.empty()) {
        run.syscalls = ReadStraceTable(tracePath);
        std::remove(tracePath.c_str());
    }
    sim.Stop();
    return run;
}

void OrvexctlPolling(benchmark::State& state, std::string ctl, std::string simulator, long long shortSeconds,
    long long longSeconds)
{
    for (auto _ : state) {
        OrvexctlRun shortRun = RunOrvexctl(ctl, simulator, shortSeconds, {});
        CPlainSleeper sleeper;
        CSimProcess bareUnit;
        CBareLoop bare;
        if (!bareUnit.Start(simulator, { "--pty", "--device", "cy" }) || !bare.Start(bareUnit.SlavePath())) {
            state.SkipWithError(("the bare loop's unit: " + bareUnit.Error()).c_str());
            return;
        }
        OrvexctlRun longRun = RunOrvexctl(ctl, simulator, longSeconds, {});
        const double wakeupCpu = sleeper.Stop();
        const double bareCpu = bare.Stop();
        bareUnit.Stop();
        for (const OrvexctlRun* run : { &shortRun, &longRun }) {
            if (!run->error.empty() || run->status != 0) {
                state.SkipWithError(run->error.empty() ? "orvexctl polling ended with a failure" : run->error.c_str());
                return;
            }
        }
        const double extra = static_cast<double>(longRun.exchanges - shortRun.exchanges);
        if (extra <= 0) {
            state.SkipWithError("the long run answered no more exchanges than the short one");
            return;
        }
        state.counters["exchanges_short"] = static_cast<double>(shortRun.exchanges);
        state.counters["exchanges_long"] = static_cast<double>(longRun.exchanges);
        state.counters["cpu_ms_short"] = 1000 * shortRun.cpuSeconds;
        state.counters["cpu_ms_long"] = 1000 * longRun.cpuSeconds;
        state.counters["wakeups_short"] = static_cast<double>(shortRun.wakeups);
        state.counters["wakeups_long"] = static_cast<double>(longRun.wakeups);
        state.counters["exchanges_per_s"] = extra / static_cast<double>(longSeconds - shortSeconds);
        state.counters["cpu_us_per_exchange"] = 1e6 * (longRun.cpuSeconds - shortRun.cpuSeconds) / extra;
        state.counters["wakeups_per_exchange"] = static_cast<double>(longRun.wakeups - shortRun.wakeups) / extra;
        state.counters["startup_cpu_ms"] = (shortRun.startupCpuMilliseconds + longRun.startupCpuMilliseconds) / 2;
        state.counters["startup_wakeups"] = static_cast<double>(shortRun.startupWakeups + longRun.startupWakeups) / 2;
        state.counters["sleeper_cpu_us_per_wakeup"] = wakeupCpu;
        state.counters["bare_loop_cpu_us_per_exchange"] = bareCpu;
        state.counters["cpu_us_above_bare_loop"] = state.counters["cpu_us_per_exchange"] - bareCpu;

        if (!HaveStrace())
            continue;
        const std::string trace = "/tmp/orvex-bench-strace-" + std::to_string(getpid());
        OrvexctlRun shortTraced = RunOrvexctl(ctl, simulator, shortSeconds, trace);
        OrvexctlRun longTraced = RunOrvexctl(ctl, simulator, longSeconds, trace);
        const double tracedExtra = static_cast<double>(longTraced.exchanges - shortTraced.exchanges);
        if (!shortTraced.error.empty() || !longTraced.error.empty() || tracedExtra <= 0
            || longTraced.syscalls.count("total") == 0)
            continue;
        for (const auto& [name, calls] : longTraced.syscalls) {
            auto before = shortTraced.syscalls.find(name);
            double perExchange = static_cast<double>(calls - (before == shortTraced.syscalls.end() ? 0 : before->second))
                / tracedExtra;
            if (name == "total")
                state.counters["syscalls_per_exchange"] = perExchange;
            else if (perExchange >= 0.05)
                state.counters["syscalls_" + name] = perExchange;
        }
    }
}

// Counts the exchanges, and takes the process's CPU time when the first
// steady poll is written.
class CSteadySink final : public CLogSink {
public:
    void AddLine(std::string_view line) override
    {
        if (!m_steady.load() && line == kSteadyLine) {
            rusage usage {};
            getrusage(RUSAGE_SELF, &usage);
            m_startupSleeps = usage.ru_nvcsw;
            m_startupCpu = ProcessCpuTime();
            {
                std::lock_guard lock(m_mutex);
                m_steady.store(true);
            }
            m_steadyCame.notify_all();
        }
    }
    // One sleep until the first steady poll; false after `timeout`.
    bool WaitSteady(std::chrono::seconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_steadyCame.wait_for(lock, timeout, [this] { return m_steady.load(); });
    }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }
    bool Steady() const { return m_steady.load(); }
    std::chrono::nanoseconds StartupCpu() const { return m_startupCpu; }
    long long StartupSleeps() const { return m_startupSleeps; }

private:
    std::atomic<bool> m_steady { false };
    std::mutex m_mutex; // pairs with m_steadyCame
    std::condition_variable m_steadyCame;
    std::chrono::nanoseconds m_startupCpu {};
    long long m_startupSleeps { 0 };
};

class CCountingLog final : public CExchangeLog {
public:
    using CExchangeLog::CExchangeLog;
    void OnCommandDone(std::string name) override
    {
        CExchangeLog::OnCommandDone(std::move(name));
        m_exchanges.fetch_add(1);
    }
    long long Exchanges() const { return m_exchanges.load(); }

private:
    std::atomic<long long> m_exchanges { 0 };
};

struct ProcessSample {
    std::chrono::nanoseconds cpu;
    long long wakeups;
    long long exchanges;
};

ProcessSample SampleProcess(const CCountingLog& log)
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return { ProcessCpuTime(), usage.ru_nvcsw, log.Exchanges() };
}

// The engine as the window runs it: the device interface, the exchange log
// (decoding, the sequence flag set as polling mode sets it) and CVMC in this
// process; orvex-sim a child process. The measuring thread sleeps once
// across the span, so what the span costs is the engine's.
void EnginePolling(benchmark::State& state, std::string simulator, long long spanSeconds)
{
    CSimProcess sim;
    if (!sim.Start(simulator, { "--pty", "--device", "cy" })) {
        state.SkipWithError(sim.Error().c_str());
        return;
    }
    for (auto _ : state) {
        const auto startCpu = ProcessCpuTime();
        rusage startUsage {};
        getrusage(RUSAGE_SELF, &startUsage);
        rusage startThread {};
        getrusage(RUSAGE_THREAD, &startThread);
        CKRMSInterface device(CPortTable({ sim.SlavePath() }));
        if (!device.OpenPort(0, 200)) {
            state.SkipWithError(device.GetProtocol()->GetPort()->DescribePortError(0).c_str());
            break;
        }
        device.SetPollInterval(kPollingPeriodMilliseconds);
        device.SetIntercommandInterval(0);
        CSteadySink sink;
        CCountingLog log(device.GetProtocol(), sink, [&device] {
            DecodeContext context;
            context.deviceChoice = kDeviceChoiceCyclor;
            context.billTable = device.GetBillTable();
            return context;
        });
        log.SetSequenceFlag(1);
        device.GetProtocol()->SetObserver(&log);
        CVMC engine(&device);
        engine.SetDeviceAddress(kCyclorAddress);
        engine.SetEnabledBills(0xFFFFFF);
        if (!engine.Start()) {
            state.SkipWithError("the engine's thread did not start");
            break;
        }
        rusage measuring {};
        getrusage(RUSAGE_THREAD, &measuring);
        const long long ownSleeps = measuring.ru_nvcsw;
        bool steady = sink.WaitSteady(std::chrono::seconds(30));
        ProcessSample first {}, last {};
        std::chrono::nanoseconds measuringThread {};
        if (steady) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            first = SampleProcess(log);
            const auto threadBefore = ThreadCpuTime();
            rusage thread {};
            getrusage(RUSAGE_THREAD, &thread);
            const long long sleepsBefore = thread.ru_nvcsw;
            std::this_thread::sleep_for(std::chrono::seconds(spanSeconds));
            measuringThread = ThreadCpuTime() - threadBefore;
            last = SampleProcess(log);
            getrusage(RUSAGE_THREAD, &thread);
            last.wakeups -= thread.ru_nvcsw - sleepsBefore;
        }
        engine.RequestStop();
        bool ended = engine.WaitForEnd(std::chrono::seconds(10));
        device.GetProtocol()->SetObserver(nullptr);
        if (!steady || !ended) {
            state.SkipWithError(!steady ? "no steady poll (IDLING) within 30 s" : "the engine did not stop within 10 s");
            break;
        }
        const double exchanges = static_cast<double>(std::max(1LL, last.exchanges - first.exchanges));
        state.counters["startup_cpu_ms"] = std::chrono::duration<double, std::milli>(sink.StartupCpu() - startCpu).count();
        // Less the measuring thread's own sleeps: those before its wait and the wait.
        state.counters["startup_wakeups"] = static_cast<double>(
            sink.StartupSleeps() - startUsage.ru_nvcsw - (ownSleeps - startThread.ru_nvcsw) - 1);
        state.counters["exchanges_per_s"] = exchanges / static_cast<double>(spanSeconds);
        state.counters["cpu_us_per_exchange"]
            = std::chrono::duration<double, std::micro>(last.cpu - first.cpu - measuringThread).count() / exchanges;
        state.counters["wakeups_per_exchange"] = static_cast<double>(last.wakeups - first.wakeups) / exchanges;
    }
    sim.Stop();
}

} // namespace

} // namespace orvex

int main(int argc, char** argv)
{
    orvex::CBenchOptions options(argc, argv);
    std::string simulator = options.Text("sim", orvex::CSimProcess::BesideThisProgram("orvex-sim"));
    std::string ctl = options.Text("ctl", orvex::CSimProcess::BesideThisProgram("orvexctl"));
    // The short run must reach the steady loop even under strace.
    long long shortSeconds = options.Number("short-seconds", 4);
    long long longSeconds = std::max(shortSeconds + 1, options.Number("long-seconds", 24));
    benchmark::RegisterBenchmark("OrvexctlPolling", [=](benchmark::State& state) {
        orvex::OrvexctlPolling(state, ctl, simulator, shortSeconds, longSeconds);
    })->Iterations(1)->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("EnginePolling", [=](benchmark::State& state) {
        orvex::EnginePolling(state, simulator, longSeconds - shortSeconds);
    })->Iterations(1)->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
