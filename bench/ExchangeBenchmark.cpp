// The host's share of a bus exchange: a POLL through the protocol engine to
// a peer that answers at once, and a POLL to a peer that never answers.

#include "support/CBenchPeer.h"
#include "support/CDiscardSink.h"
#include "support/ProcessFigures.h"

#include "decode/CExchangeLog.h"
#include "link/CCommand.h"
#include "link/CPortTable.h"
#include "link/CPtyPair.h"
#include "link/Frame.h"
#include "link/WireVocabulary.h"
#include "protocol/CKRMSProtocol.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

// Every allocation of the program is counted, so that a figure shows an
// allocation per byte or a copy per line should one creep in.
namespace {
std::atomic<std::uint64_t> g_allocations { 0 };
}

void* operator new(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

// GCC takes the free() of a block from the replaced operator new for a
// mismatch; the pair is matched here by construction.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}
#pragma GCC diagnostic pop

namespace orvex {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAddress = 3;
constexpr std::uint8_t kIdling = 0x14;
// Command, reply and ACK: six bytes each.
constexpr int kPollExchangeBytes = 18;
constexpr int kResponseTimeout = 200;
// The six-byte header read waits 11 ms a byte plus the response time-out.
constexpr double kSilentDeadlineMilliseconds = 11.0 * 6 + kResponseTimeout;

double Microseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::micro>(duration).count();
}

std::unique_ptr<CKRMSProtocol> OpenOn(const CBenchPeer& peer, benchmark::State& state)
{
    if (peer.SlavePath().empty()) {
        state.SkipWithError(peer.Error().c_str());
        return nullptr;
    }
    auto protocol = std::make_unique<CKRMSProtocol>(CPortTable({ peer.SlavePath() }));
    protocol->SetSerialMode("19200,n,8,1");
    if (!protocol->OpenPort(0, kResponseTimeout)) {
        state.SkipWithError((protocol->GetPort()->DescribePortError(0)).c_str());
        return nullptr;
    }
    // The pause after an exchange is a configured wait, not host work.
    protocol->SetIntercommandInterval(0);
    return protocol;
}

CCommand PollFrame()
{
    const std::vector<std::uint8_t> frame = BuildCommandFrame(0, wire::kPoll);
    return CCommand(frame.data(), 0, static_cast<int>(frame.size()));
}

// Wall time of every exchange, the calling thread's CPU time over all, and
// the allocations made meanwhile (the peer allocates nothing).
void ReportExchangeFigures(benchmark::State& state, const std::vector<double>& wall, std::chrono::nanoseconds cpu, std::uint64_t allocations)
{
    if (wall.empty())
        return;
    const double wire = WireMicroseconds(kPollExchangeBytes, 19200);
    double median = Percentile(wall, 0.50);
    double p99 = Percentile(wall, 0.99);
    double cpuPerExchange = std::chrono::duration<double, std::micro>(cpu).count() / static_cast<double>(wall.size());
    state.counters["wire_us"] = wire;
    state.counters["wall_p50_us"] = median;
    state.counters["wall_p99_us"] = p99;
    state.counters["wall_max_us"] = Percentile(wall, 1.0);
    state.counters["wall_p50_pct"] = 100.0 * median / wire;
    state.counters["wall_p99_pct"] = 100.0 * p99 / wire;
    state.counters["cpu_us"] = cpuPerExchange;
    state.counters["cpu_pct"] = 100.0 * cpuPerExchange / wire;
    state.counters["allocations"] = static_cast<double>(allocations) / static_cast<double>(wall.size());
}

// Exchange and CommandDone on a ready-made POLL frame: the transaction
// engine alone, without the command set above it.
void PollExchange(benchmark::State& state)
{
    CBenchPeer peer(CBenchPeer::ShortReply(kAddress, kIdling));
    auto protocol = OpenOn(peer, state);
    if (!protocol)
        return;
    const CCommand poll = PollFrame();
    for (int i = 0; i < 100; ++i) {
        protocol->Exchange(poll, kAddress);
        protocol->CommandDone("POLL");
    }

    std::vector<double> wall;
    wall.reserve(static_cast<std::size_t>(state.max_iterations));
    auto cpuStart = ThreadCpuTime();
    auto allocationsStart = g_allocations.load();
    for (auto _ : state) {
        auto start = Clock::now();
        CCommand reply = protocol->Exchange(poll, kAddress);
        protocol->CommandDone("POLL");
        wall.push_back(Microseconds(Clock::now() - start));
        if (reply.GetStatus() != 0) {
            state.SkipWithError(("POLL failed: " + CKRMSProtocol::ErrorText(reply.GetStatus())).c_str());
            break;
        }
    }
    ReportExchangeFigures(state, wall, ThreadCpuTime() - cpuStart, g_allocations.load() - allocationsStart);
}
BENCHMARK(PollExchange)->Iterations(20000)->Unit(benchmark::kMicrosecond);

// The POLL command of the command set; with a log, every exchange is also
// decoded into the exchange log as polling mode does, one header, reply
// line and separator each.
void PollCommand(benchmark::State& state, bool logged)
{
    CBenchPeer peer(CBenchPeer::ShortReply(kAddress, kIdling));
    auto protocol = OpenOn(peer, state);
    if (!protocol)
        return;
    CDiscardSink sink;
    CExchangeLog log(protocol.get(), sink);
    if (logged)
        protocol->SetObserver(&log);
    for (int i = 0; i < 100; ++i)
        protocol->Poll(kAddress);

    std::vector<double> wall;
    wall.reserve(static_cast<std::size_t>(state.max_iterations));
    auto cpuStart = ThreadCpuTime();
    auto allocationsStart = g_allocations.load();
    for (auto _ : state) {
        auto start = Clock::now();
        bool done = protocol->Poll(kAddress);
        wall.push_back(Microseconds(Clock::now() - start));
        if (!done) {
            state.SkipWithError(("POLL failed: " + CKRMSProtocol::ErrorText(protocol->GetLastResultCode())).c_str());
            break;
        }
    }
    ReportExchangeFigures(state, wall, ThreadCpuTime() - cpuStart, g_allocations.load() - allocationsStart);
    protocol->SetObserver(nullptr);
    if (logged && sink.Characters() == 0)
        state.SkipWithError("the exchange log wrote nothing");
}
BENCHMARK_CAPTURE(PollCommand, Plain, false)->Name("PollCommand")->Iterations(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(PollCommand, Logged, true)->Name("PollCommandLogged")->Iterations(20000)->Unit(benchmark::kMicrosecond);

// The floor the machine and the tty layer allow: the same three hand-overs
// as a POLL (six bytes to the peer, six back, six more after them) over a
// pseudo-terminal, by bare read, write and poll, with none of our code. It
// runs interleaved with the exchanges, so it meets the same load.
void PtyHandOver(benchmark::State& state)
{
    CPtyPair pair;
    if (pair.Open() != 0) {
        state.SkipWithError(pair.Error().c_str());
        return;
    }
    const int master = pair.Master();
    const int slave = pair.Slave();
    std::atomic<bool> stop { false };
    std::thread peer([&] {
        std::uint8_t frame[6];
        int got = 0;
        while (!stop.load()) {
            pollfd entry { master, POLLIN, 0 };
            if (::poll(&entry, 1, 50) <= 0)
                continue;
            ssize_t part = ::read(master, frame + got, static_cast<std::size_t>(6 - got));
            if (part <= 0)
                continue;
            got += static_cast<int>(part);
            if (got < 6)
                continue;
            got = 0;
            if (frame[3] != wire::kAck && ::write(master, frame, 6) != 6)
                return;
        }
    });
    auto readSix = [slave](std::uint8_t* bytes) {
        int got = 0;
        while (got < 6) {
            ssize_t part = ::read(slave, bytes + got, static_cast<std::size_t>(6 - got));
            if (part > 0) {
                got += static_cast<int>(part);
                continue;
            }
            pollfd entry { slave, POLLIN, 0 };
            if (::poll(&entry, 1, 1000) <= 0)
                return false;
        }
        return true;
    };
    // The same bytes as the host's exchange: POLL, then its ACK.
    const std::vector<std::uint8_t> poll = BuildCommandFrame(wire::kValidatorAddress, wire::kPoll);
    const std::vector<std::uint8_t> ack = BuildAck(wire::kValidatorAddress);
    const std::uint8_t* command = poll.data();
    const std::uint8_t* acknowledgement = ack.data();
    std::uint8_t reply[6];
    std::vector<double> wall;
    wall.reserve(static_cast<std::size_t>(state.max_iterations));
    auto cpuStart = ThreadCpuTime();
    auto allocationsStart = g_allocations.load();
    for (auto _ : state) {
        auto start = Clock::now();
        bool done = ::write(slave, command, 6) == 6 && readSix(reply) && ::write(slave, acknowledgement, 6) == 6;
        wall.push_back(Microseconds(Clock::now() - start));
        if (!done) {
            state.SkipWithError("a pty hand-over failed");
            break;
        }
    }
    ReportExchangeFigures(state, wall, ThreadCpuTime() - cpuStart, g_allocations.load() - allocationsStart);
    stop.store(true);
    peer.join();
}
BENCHMARK(PtyHandOver)->Iterations(20000)->Unit(benchmark::kMicrosecond);

// A POLL to a peer that never answers: the host must sleep in poll() for
// the whole read time-out and wake once, on time.
void SilentPoll(benchmark::State& state)
{
    CBenchPeer peer(CBenchPeer::ShortReply(kAddress, kIdling), CBenchPeer::Answer::Silent);
    auto protocol = OpenOn(peer, state);
    if (!protocol)
        return;
    const CCommand poll = PollFrame();

    std::vector<double> cpu;
    std::vector<double> overshoot;
    std::vector<double> switches;
    for (auto _ : state) {
        auto cpuStart = ThreadCpuTime();
        auto switchesStart = ThreadContextSwitches();
        auto start = Clock::now();
        CCommand reply = protocol->Exchange(poll, kAddress);
        protocol->CommandDone("POLL");
        auto elapsed = Clock::now() - start;
        switches.push_back(static_cast<double>(ThreadContextSwitches() - switchesStart));
        cpu.push_back(std::chrono::duration<double, std::micro>(ThreadCpuTime() - cpuStart).count());
        overshoot.push_back(std::chrono::duration<double, std::milli>(elapsed).count() - kSilentDeadlineMilliseconds);
        if (reply.GetStatus() != kTimeout) {
            state.SkipWithError(("expected Timeout, got " + CKRMSProtocol::ErrorText(reply.GetStatus())).c_str());
            break;
        }
    }
    state.counters["deadline_ms"] = kSilentDeadlineMilliseconds;
    state.counters["cpu_us"] = Mean(cpu);
    state.counters["cpu_max_us"] = Percentile(cpu, 1.0);
    state.counters["overshoot_mean_ms"] = Mean(overshoot);
    state.counters["overshoot_max_ms"] = Percentile(overshoot, 1.0);
    state.counters["overshoot_min_ms"] = Percentile(overshoot, 0.0);
    state.counters["switches"] = Mean(switches);
}
BENCHMARK(SilentPoll)->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace orvex

BENCHMARK_MAIN();
