// The wire path: decoding a capture of 1,000,000 POLL exchanges (to text
// and to JSON, as orvexctl decode does), the CPU a capture adds to every
// exchange of the tool, and the relay: the time a byte spends inside it
// and its CPU per relayed POLL exchange at 19200.
#include "capture/CCaptureSink.h"
#include "capture/CExchangeAssembler.h"
#include "capture/CPcapngWriter.h"
#include "capture/CPortTap.h"
#include "capture/CWireRelay.h"
#include "cli/MonitorCommand.h"
#include "decode/CWireDecoder.h"
#include "link/CPtyPair.h"
#include "link/Frame.h"
#include "support/CDiscardSink.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <poll.h>
#include <string>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace orvex;

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kPoll = BuildCommandFrame(1, 0x33);
const Bytes kReply = BuildFrame(1, std::vector<std::uint8_t> { 0x14 });
const Bytes kAck = BuildAck(1);
// Line time of a POLL exchange at 19200 baud: 18 bytes of 10 bits.
constexpr double kPollLineMicroseconds = 18 * 10 * 1e6 / 19200;

double CpuMicroseconds(clockid_t clock)
{
    timespec now {};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double Percentile(std::vector<std::int64_t> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return static_cast<double>(values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))]);
}

std::string CaptureOfPolls(int exchanges)
{
    const std::string path = "/tmp/orvex-bench-polls-" + std::to_string(::getpid()) + ".pcapng";
    CPcapngWriter writer;
    writer.Open(path, "bench");
    std::vector<std::string> ports { "/dev/ttyUSB0" };
    CCaptureSink sink(writer, ports);
    std::int64_t time = 1765189500000000000;
    WireExchange exchange;
    exchange.frames = { { WireDirection::FromController, WireFrameKind::Frame, 0, 0, kPoll },
        { WireDirection::FromDevice, WireFrameKind::Frame, 0, 0, kReply },
        { WireDirection::FromController, WireFrameKind::Frame, 0, 0, kAck } };
    for (int index = 0; index < exchanges; ++index) {
        for (WireFrame& frame : exchange.frames)
            frame.timeNs = (time += 3000000);
        sink.OnDecoded(exchange, {});
    }
    writer.Close();
    return path;
}

void Decode(benchmark::State& state, bool json)
{
    const int exchanges = 1000000;
    const std::string path = CaptureOfPolls(exchanges);
    std::ofstream out("/dev/null");
    std::ofstream err("/dev/null");
    std::atomic<int> stop { 0 };
    std::vector<std::string> arguments { "decode", path };
    if (json)
        arguments.insert(arguments.begin(), "--json");
    for (auto _ : state) {
        const double cpu = CpuMicroseconds(CLOCK_PROCESS_CPUTIME_ID);
        const auto start = std::chrono::steady_clock::now();
        if (RunWireCommand(arguments, out, err, stop) != 0)
            state.SkipWithError("orvexctl decode failed");
        state.counters["time_ms"] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        state.counters["cpu_ms"] = (CpuMicroseconds(CLOCK_PROCESS_CPUTIME_ID) - cpu) / 1000;
    }
    state.counters["exchanges"] = exchanges;
    ::unlink(path.c_str());
}

void DecodeCaptureToText(benchmark::State& state) { Decode(state, false); }
void DecodeCaptureToJson(benchmark::State& state) { Decode(state, true); }

// What --capture adds to each exchange of the tool: the port's tap, the
// assembler, the decoding of the comment's lines and the written packets.
void CaptureWriting(benchmark::State& state)
{
    const std::string path = "/tmp/orvex-bench-capture-" + std::to_string(::getpid()) + ".pcapng";
    CPcapngWriter writer;
    writer.Open(path, "bench");
    std::vector<std::string> ports { "/dev/ttyUSB0" };
    CCaptureSink sink(writer, ports);
    CWireDecoder decoder({ &sink }, WireLogOptions {});
    CExchangeAssembler assembler(decoder);
    CPortTap tap(assembler, 0, BusRole::Controller);
    std::int64_t count = 0;
    const double cpu = CpuMicroseconds(CLOCK_THREAD_CPUTIME_ID);
    for (auto _ : state) {
        tap.OnBytes(TapDirection::Written, WallClockNanoseconds(), kPoll);
        tap.OnBytes(TapDirection::Read, WallClockNanoseconds(), std::span(kReply).first(6));
        tap.OnBytes(TapDirection::Written, WallClockNanoseconds(), kAck);
        ++count;
    }
    state.counters["cpu_us"] = (CpuMicroseconds(CLOCK_THREAD_CPUTIME_ID) - cpu) / static_cast<double>(count);
    tap.Finish();
    writer.Close();
    ::unlink(path.c_str());
}

class CCount : public CExchangeListener {
public:
    void OnExchange(const WireExchange&) override { ++exchanges; }
    void OnEvent(const WireEvent&) override { }
    std::atomic<int> exchanges { 0 };
};

bool ReadExactly(int fd, std::size_t count)
{
    std::uint8_t buffer[64];
    std::size_t got = 0;
    while (got < count) {
        pollfd entry { fd, POLLIN, 0 };
        if (::poll(&entry, 1, 1000) <= 0)
            return false;
        const ssize_t part = ::read(fd, buffer, std::min(sizeof buffer, count - got));
        if (part > 0)
            got += static_cast<std::size_t>(part);
    }
    return true;
}

// POLL exchanges through the relay between two ptys, as fast as the peer
// can play both ends; the relay decodes every exchange into the log.
void Relay(benchmark::State& state)
{
    CPtyPair controller, device;
    controller.Open();
    device.Open();
    std::vector<std::string> ports { controller.SlavePath(), device.SlavePath() };
    CDiscardSink text;
    CLogLinesSink lines(text, ports);
    CWireDecoder decoder({ &lines }, WireLogOptions {});
    CExchangeAssembler assembler(decoder);
    CWireRelay relay(controller.SlavePath(), device.SlavePath(), assembler);
    relay.KeepLatencies();
    std::string error;
    if (!relay.Open("19200,n,8,1", error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::atomic<int> stop { 0 };
    std::thread running([&] { relay.Run(stop, std::chrono::steady_clock::time_point::max()); });
    std::int64_t count = 0;
    double peerCpu = 0;
    const double cpu = CpuMicroseconds(CLOCK_PROCESS_CPUTIME_ID);
    for (auto _ : state) {
        const double peer = CpuMicroseconds(CLOCK_THREAD_CPUTIME_ID);
        bool ok = ::write(controller.Master(), kPoll.data(), kPoll.size()) == static_cast<ssize_t>(kPoll.size())
            && ReadExactly(device.Master(), kPoll.size())
            && ::write(device.Master(), kReply.data(), kReply.size()) == static_cast<ssize_t>(kReply.size())
            && ReadExactly(controller.Master(), kReply.size())
            && ::write(controller.Master(), kAck.data(), kAck.size()) == static_cast<ssize_t>(kAck.size())
            && ReadExactly(device.Master(), kAck.size());
        peerCpu += CpuMicroseconds(CLOCK_THREAD_CPUTIME_ID) - peer;
        if (!ok) {
            state.SkipWithError("the relay lost a frame");
            break;
        }
        ++count;
    }
    const double relayCpu = CpuMicroseconds(CLOCK_PROCESS_CPUTIME_ID) - cpu - peerCpu;
    stop.store(1);
    running.join();
    const double perExchange = relayCpu / static_cast<double>(std::max<std::int64_t>(count, 1));
    state.counters["cpu_us"] = perExchange;
    state.counters["cpu_pct_of_line"] = 100.0 * perExchange / kPollLineMicroseconds;
    state.counters["controller_p99_ms"] = Percentile(relay.Latencies(WireDirection::FromController), 0.99) / 1e6;
    state.counters["device_p99_ms"] = Percentile(relay.Latencies(WireDirection::FromDevice), 0.99) / 1e6;
}

} // namespace

BENCHMARK(DecodeCaptureToText)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DecodeCaptureToJson)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CaptureWriting)->Iterations(200000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Relay)->Iterations(3000)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
