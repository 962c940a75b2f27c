// How noisy the machine is while the other figures are taken: the lateness
// of a plain sleep, which no code of ours can beat. A p99 of the poll
// cadence or of an exchange near this figure is the machine, not the host.

#include "support/ProcessFigures.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

namespace orvex {

namespace {

using Clock = std::chrono::steady_clock;

void SleepLateness(benchmark::State& state)
{
    const auto sleep = std::chrono::milliseconds(20);
    std::vector<double> lateness;
    for (auto _ : state) {
        auto until = Clock::now() + sleep;
        std::this_thread::sleep_until(until);
        lateness.push_back(std::chrono::duration<double, std::milli>(Clock::now() - until).count());
    }
    state.counters["late_mean_ms"] = Mean(lateness);
    state.counters["late_p50_ms"] = Percentile(lateness, 0.50);
    state.counters["late_p99_ms"] = Percentile(lateness, 0.99);
    state.counters["late_max_ms"] = Percentile(lateness, 1.0);
}
BENCHMARK(SleepLateness)->Iterations(100)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace orvex

BENCHMARK_MAIN();
