// The poll cadence of polling mode as the peripheral sees it: the CVMC
// engine polls the virtual peripheral (in this process, over a pty) and the
// simulator stamps every frame it receives. The figure is the period
// between successive POLL frames in the steady loop.

#include "support/BenchOptions.h"
#include "support/CDiscardSink.h"
#include "support/ProcessFigures.h"

#include "decode/CExchangeLog.h"
#include "device/CKRMSInterface.h"
#include "link/CCOMPort.h"
#include "link/CPortTable.h"
#include "sim/CSimulator.h"
#include "vmc/CVMC.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCyclorAddress = 1;
constexpr std::uint8_t kPollCode = 0x33;

// Frames as the simulator received them: command code and time.
class CFrameTimes {
public:
    struct Entry {
        std::uint8_t code;
        Clock::time_point when;
    };

    void Add(const std::uint8_t* frame, std::size_t length, Clock::time_point when)
    {
        if (length < 6 || frame[2] == 0)
            return;
        std::lock_guard lock(m_mutex);
        m_entries.push_back({ frame[3], when });
    }

    // Times of the POLL frames after the last command of another kind (the
    // start-up sequence), with the host's ACK frames passed over.
    std::vector<Clock::time_point> SteadyPolls(std::vector<Clock::time_point>* acknowledgements = nullptr) const
    {
        std::lock_guard lock(m_mutex);
        std::size_t first = 0;
        for (std::size_t i = 0; i < m_entries.size(); ++i)
            if (m_entries[i].code != kPollCode && m_entries[i].code != 0x00)
                first = i + 1;
        std::vector<Clock::time_point> polls;
        for (std::size_t i = first; i < m_entries.size(); ++i) {
            if (m_entries[i].code == kPollCode)
                polls.push_back(m_entries[i].when);
            else if (acknowledgements && !polls.empty())
                acknowledgements->push_back(m_entries[i].when);
        }
        return polls;
    }

private:
    mutable std::mutex m_mutex; // guards m_entries: the simulator's line thread adds, the benchmark reads
    std::vector<Entry> m_entries;
};

double Milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The serial port with a stamp on every frame the host writes: the same
// cadence seen from the sending side, to tell the host's lateness from the
// simulator's.
class CStampingPort final : public CCOMPort {
public:
    CStampingPort(CPortTable table, CFrameTimes& times)
        : CCOMPort(std::move(table))
        , m_times(times)
    {
    }

    int Write(const std::uint8_t* buffer, int count) override
    {
        m_times.Add(buffer, static_cast<std::size_t>(count), Clock::now());
        return CCOMPort::Write(buffer, count);
    }

private:
    CFrameTimes& m_times;
};

struct PeriodFigures {
    double mean { 0 };
    double minimum { 0 };
    double maximum { 0 };
    double deviationP99 { 0 };
    double deviationMaximum { 0 };
};

PeriodFigures Periods(const std::vector<Clock::time_point>& polls, double interval)
{
    std::vector<double> periods;
    std::vector<double> deviations;
    for (std::size_t i = 1; i < polls.size(); ++i) {
        double period = Milliseconds(polls[i] - polls[i - 1]);
        periods.push_back(period);
        deviations.push_back(std::fabs(period - interval));
    }
    return { Mean(periods), Percentile(periods, 0.0), Percentile(periods, 1.0), Percentile(deviations, 0.99), Percentile(deviations, 1.0) };
}

// A thread that keeps the engine's schedule with nothing but sleeps (the
// next turn one interval after the last wake-up) for as long as the engine
// runs: what the machine itself allows, over the same minutes.
class CControlSleeper {
public:
    explicit CControlSleeper(std::chrono::milliseconds interval)
        : m_thread([this, interval] { Run(interval); })
    {
    }
    ~CControlSleeper() { Stop(); }

    std::vector<Clock::time_point> Stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        return m_turns;
    }

private:
    void Run(std::chrono::milliseconds interval)
    {
        std::unique_lock lock(m_mutex);
        auto next = Clock::now() + interval;
        while (!m_wake.wait_until(lock, next, [this] { return m_stop; })) {
            auto now = Clock::now();
            m_turns.push_back(now);
            next = now + interval;
        }
    }

    std::mutex m_mutex; // guards m_stop and m_turns
    std::condition_variable m_wake;
    bool m_stop { false };
    std::vector<Clock::time_point> m_turns;
    std::thread m_thread;
};

void PollCadence(benchmark::State& state, long long polls, long long intervalMilliseconds)
{
    for (auto _ : state) {
        CFrameTimes times;
        CFrameTimes sent;
        SimOptions options;
        CSimulator sim(options);
        sim.SetFrameObserver([&times](const std::uint8_t* frame, std::size_t length, Clock::time_point when) {
            times.Add(frame, length, when);
        });
        std::string slave = sim.StartPty();
        if (slave.empty()) {
            state.SkipWithError(sim.LastError().c_str());
            break;
        }
        CKRMSInterface device(std::make_unique<CStampingPort>(CPortTable({ slave }), sent));
        device.GetProtocol()->SetSerialMode("19200,n,8,1");
        if (!device.OpenPort(0, 200)) {
            state.SkipWithError(device.GetProtocol()->GetPort()->DescribePortError(0).c_str());
            break;
        }
        // The intercommand interval stays at its default of 20 ms: the
        // cadence is measured as a technician would run it.
        device.SetPollInterval(static_cast<int>(intervalMilliseconds));
        CDiscardSink sink;
        CExchangeLog log(device.GetProtocol(), sink, [&device] {
            DecodeContext context;
            context.deviceChoice = kDeviceChoiceCyclor;
            context.billTable = device.GetBillTable();
            return context;
        });
        log.SetSequenceFlag(1);
        device.GetProtocol()->SetObserver(&log);
        CVMC engine(&device);
        engine.SetDeviceAddress(kCyclorAddress);
        if (!engine.Start()) {
            state.SkipWithError("the engine's thread did not start");
            break;
        }
        CControlSleeper control { std::chrono::milliseconds(intervalMilliseconds) };
        // The start-up sequence, then polls + 1 POLL frames in the steady loop.
        const auto limit = Clock::now() + std::chrono::milliseconds(intervalMilliseconds * (polls + 10)) + std::chrono::seconds(60);
        while (times.SteadyPolls().size() < static_cast<std::size_t>(polls + 1) && Clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::vector<Clock::time_point> controlTurns = control.Stop();
        engine.RequestStop();
        bool ended = engine.WaitForEnd(std::chrono::seconds(10));
        device.GetProtocol()->SetObserver(nullptr);
        sim.Stop();
        if (!ended) {
            state.SkipWithError("the engine did not stop within 10 s");
            break;
        }

        std::vector<Clock::time_point> acknowledgements;
        std::vector<Clock::time_point> pollTimes = times.SteadyPolls(&acknowledgements);
        if (pollTimes.size() < static_cast<std::size_t>(polls + 1)) {
            state.SkipWithError(("only " + std::to_string(pollTimes.size()) + " POLL frames in the steady loop").c_str());
            break;
        }
        pollTimes.resize(static_cast<std::size_t>(polls + 1));
        const double interval = static_cast<double>(intervalMilliseconds);
        PeriodFigures seen = Periods(pollTimes, interval);
        std::vector<Clock::time_point> sentTimes = sent.SteadyPolls();
        if (sentTimes.size() > pollTimes.size())
            sentTimes.resize(pollTimes.size());
        PeriodFigures written = Periods(sentTimes, interval);
        // From a POLL to the host's ACK of its reply: the line part of the exchange.
        std::vector<double> pollToAck;
        std::size_t next = 0;
        for (auto poll : pollTimes) {
            while (next < acknowledgements.size() && acknowledgements[next] < poll)
                ++next;
            if (next < acknowledgements.size())
                pollToAck.push_back(Milliseconds(acknowledgements[next] - poll));
        }
        state.counters["polls"] = static_cast<double>(pollTimes.size() - 1);
        state.counters["interval_ms"] = interval;
        state.counters["period_mean_ms"] = seen.mean;
        state.counters["period_min_ms"] = seen.minimum;
        state.counters["period_max_ms"] = seen.maximum;
        state.counters["mean_offset_ms"] = seen.mean - interval;
        state.counters["deviation_p99_ms"] = seen.deviationP99;
        state.counters["deviation_max_ms"] = seen.deviationMaximum;
        PeriodFigures controlled = Periods(controlTurns, interval);
        state.counters["control_mean_offset_ms"] = controlled.mean - interval;
        state.counters["control_deviation_p99_ms"] = controlled.deviationP99;
        state.counters["control_deviation_max_ms"] = controlled.deviationMaximum;
        // The same, from the times the host wrote its POLL frames.
        state.counters["host_mean_offset_ms"] = written.mean - interval;
        state.counters["host_deviation_p99_ms"] = written.deviationP99;
        state.counters["host_deviation_max_ms"] = written.deviationMaximum;
        state.counters["poll_to_ack_ms"] = Mean(pollToAck);
    }
}

} // namespace

} // namespace orvex

int main(int argc, char** argv)
{
    orvex::CBenchOptions options(argc, argv);
    long long polls = options.Number("polls", 1000);
    long long interval = options.Number("interval-ms", 250);
    benchmark::RegisterBenchmark("PollCadence", [=](benchmark::State& state) { orvex::PollCadence(state, polls, interval); })
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
