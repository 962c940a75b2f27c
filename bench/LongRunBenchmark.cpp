// A long run of polling mode: the CVMC engine in this process polls
// orvex-sim (a child process) with no pause between exchanges, every
// exchange decoded by the exchange log into a sink that drops the lines.
// What must stay flat: resident memory, file descriptors, threads.

#include "support/BenchOptions.h"
#include "support/CDiscardSink.h"
#include "support/CSimProcess.h"
#include "support/ProcessFigures.h"

#include "decode/CExchangeLog.h"
#include "device/CKRMSInterface.h"
#include "link/CPortTable.h"
#include "vmc/CVMC.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace orvex {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCyclorAddress = 1;
constexpr long long kWarmUpExchanges = 1000;

// Counts the exchanges on their way into the log.
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

// Waits until the log has counted `count` exchanges; false when the engine
// stalls (no exchange for 10 s).
bool WaitForExchanges(const CCountingLog& log, long long count)
{
    long long last = log.Exchanges();
    auto lastProgress = Clock::now();
    while (log.Exchanges() < count) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        long long now = log.Exchanges();
        if (now != last) {
            last = now;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress > std::chrono::seconds(10)) {
            return false;
        }
    }
    return true;
}

double KiB(std::int64_t bytes)
{
    return static_cast<double>(bytes) / 1024.0;
}

void LongRun(benchmark::State& state, std::string simulator, long long exchanges)
{
    CSimProcess sim;
    if (!sim.Start(simulator, { "--pty", "--device", "cy" })) {
        state.SkipWithError(sim.Error().c_str());
        return;
    }
    for (auto _ : state) {
        const int descriptorsBefore = OpenDescriptors();
        const int threadsBefore = ThreadCount();
        double residentFirst = 0, residentLast = 0, residentPeak = 0;
        double seconds = 0, cpuPerExchange = 0;
        long long counted = 0;
        long long measured = 0;
        std::uint64_t characters = 0;
        bool stalled = false;
        {
            CKRMSInterface device(CPortTable({ sim.SlavePath() }));
            device.GetProtocol()->SetSerialMode("19200,n,8,1");
            if (!device.OpenPort(0, 200)) {
                state.SkipWithError(device.GetProtocol()->GetPort()->DescribePortError(0).c_str());
                break;
            }
            // Set directly, not through polling mode's added 100 ms.
            device.SetPollInterval(0);
            device.SetIntercommandInterval(0);
            CDiscardSink sink;
            CCountingLog log(device.GetProtocol(), sink, [&device] {
                DecodeContext context;
                context.deviceChoice = kDeviceChoiceCyclor;
                context.billTable = device.GetBillTable();
                return context;
            });
            device.GetProtocol()->SetObserver(&log);
            CVMC engine(&device);
            engine.SetDeviceAddress(kCyclorAddress);
            if (!engine.Start()) {
                state.SkipWithError("the engine's thread did not start");
                break;
            }
            stalled = !WaitForExchanges(log, kWarmUpExchanges);
            residentFirst = KiB(ResidentBytes());
            residentPeak = residentFirst;
            const auto cpuStart = ProcessCpuTime();
            const auto start = Clock::now();
            const long long startCount = log.Exchanges();
            for (long long target = startCount; !stalled && target < exchanges;) {
                target = std::min(exchanges, target + 10000);
                stalled = !WaitForExchanges(log, target);
                residentPeak = std::max(residentPeak, KiB(ResidentBytes()));
            }
            counted = log.Exchanges();
            measured = counted - startCount;
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
            cpuPerExchange = std::chrono::duration<double, std::micro>(ProcessCpuTime() - cpuStart).count()
                / static_cast<double>(std::max(1LL, measured));
            residentLast = KiB(ResidentBytes());
            engine.RequestStop();
            if (!engine.WaitForEnd(std::chrono::seconds(10)))
                state.SkipWithError("the engine did not stop within 10 s");
            device.GetProtocol()->SetObserver(nullptr);
            characters = sink.Characters();
        }
        if (stalled)
            state.SkipWithError("the engine stopped exchanging for 10 s");
        state.counters["exchanges"] = static_cast<double>(counted);
        state.counters["seconds"] = seconds;
        state.counters["exchanges_per_s"] = static_cast<double>(measured) / std::max(seconds, 1e-9);
        state.counters["cpu_us"] = cpuPerExchange;
        state.counters["log_mib"] = static_cast<double>(characters) / (1024.0 * 1024.0);
        state.counters["rss_first_kib"] = residentFirst;
        state.counters["rss_last_kib"] = residentLast;
        state.counters["rss_growth_kib"] = residentLast - residentFirst;
        state.counters["rss_peak_growth_kib"] = residentPeak - residentFirst;
        state.counters["fds_left"] = OpenDescriptors() - descriptorsBefore;
        state.counters["threads_left"] = ThreadCount() - threadsBefore;
    }
    sim.Stop();
}

} // namespace

} // namespace orvex

int main(int argc, char** argv)
{
    orvex::CBenchOptions options(argc, argv);
    std::string simulator = options.Text("sim", orvex::CSimProcess::BesideThisProgram("orvex-sim"));
    long long exchanges = options.Number("exchanges", 100000);
    benchmark::RegisterBenchmark("LongRun", [=](benchmark::State& state) { orvex::LongRun(state, simulator, exchanges); })
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
