// A POLL exchange through Debian's ser2net on loopback against orvex-sim's
// pty, raw TCP and RFC 2217, interleaved with the same exchange on a bare
// pty (a second simulator); and the CPU a silent remote unit costs beside a
// silent tty.

#include "support/CSimProcess.h"
#include "support/ProcessFigures.h"
#include "support/Ser2NetServer.h"

#include "link/CCommand.h"
#include "link/CPortTable.h"
#include "link/CheckCode.h"
#include "link/Frame.h"
#include "link/WireVocabulary.h"
#include "protocol/CKRMSProtocol.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace orvex {

namespace {

using Clock = std::chrono::steady_clock;
using test::Ser2NetServer;

constexpr int kAddress = 3;
constexpr int kResponseTimeout = 200;
constexpr int kWarmUp = 50;

enum class Carrier { Raw, Rfc2217 };

double Microseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::micro>(duration).count();
}

CCommand PollFrame()
{
    const std::uint8_t frame[6] { wire::kSync, 0x00, 0x06, 0x33, 0x00, 0x00 };
    return CCommand(frame, 0, 6);
}

bool StartUnit(CSimProcess& unit, benchmark::State& state)
{
    if (!unit.Start(CSimProcess::BesideThisProgram("orvex-sim"), { "--pty", "--device", "bv" })) {
        state.SkipWithError(unit.Error().c_str());
        return false;
    }
    return true;
}

// A unit behind ser2net and a second one on a bare pty, for the same
// exchange through both.
struct CUnitPair {
    CSimProcess remoteUnit;
    CSimProcess localUnit;
    Ser2NetServer server;

    // False with the benchmark skipped and the reason given.
    bool Start(benchmark::State& state)
    {
        if (!Ser2NetServer::Available()) {
            state.SkipWithError("ser2net is not installed");
            return false;
        }
        if (!StartUnit(remoteUnit, state) || !StartUnit(localUnit, state))
            return false;
        if (!server.Start(remoteUnit.SlavePath())) {
            state.SkipWithError(server.Error().c_str());
            return false;
        }
        return true;
    }
};

std::unique_ptr<CKRMSProtocol> OpenOn(const std::string& name, benchmark::State& state)
{
    auto protocol = std::make_unique<CKRMSProtocol>(CPortTable({ name }));
    protocol->SetSerialMode("19200,n,8,1");
    if (!protocol->OpenPort(0, kResponseTimeout)) {
        state.SkipWithError(protocol->GetPort()->DescribePortError(0).c_str());
        return nullptr;
    }
    protocol->SetIntercommandInterval(0);
    return protocol;
}

// One POLL exchange (command, reply, ACK): wall time, this thread's CPU
// time and the bytes that crossed the line.
struct ExchangeSample {
    double wallUs { 0 };
    double cpuUs { 0 };
    int bytes { 0 };
    int status { 0 };
};

ExchangeSample ExchangeOnce(CKRMSProtocol& protocol, const CCommand& poll)
{
    const auto cpuStart = ThreadCpuTime();
    const auto start = Clock::now();
    CCommand reply = protocol.Exchange(poll, kAddress);
    protocol.CommandDone("POLL");
    ExchangeSample sample;
    sample.wallUs = Microseconds(Clock::now() - start);
    sample.cpuUs = std::chrono::duration<double, std::micro>(ThreadCpuTime() - cpuStart).count();
    sample.bytes = 6 + reply.GetLength() + 6;
    sample.status = reply.GetStatus();
    return sample;
}

// The same exchange through ser2net by a bare socket client, none of our
// code in its path: what the server and the loopback alone cost, for the
// raw carrier beside the line's own figure.
class CBareClient {
public:
    ~CBareClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool Connect(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in where {};
        where.sin_family = AF_INET;
        where.sin_port = htons(static_cast<std::uint16_t>(port));
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int on = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return m_fd >= 0 && ::connect(m_fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
    }
    // Wall time of one POLL, reply and ACK in µs; negative on a failure.
    double Exchange()
    {
        static const auto poll = BuildCommandFrame(kAddress, wire::kPoll);
        static const auto ack = BuildAck(kAddress);
        const auto start = Clock::now();
        if (::send(m_fd, poll.data(), poll.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(poll.size()))
            return -1;
        std::uint8_t reply[256];
        std::size_t got = 0;
        // The third byte is the reply's whole length.
        while (got < 3 || got < reply[2]) {
            pollfd entry { m_fd, POLLIN, 0 };
            if (::poll(&entry, 1, kResponseTimeout) <= 0)
                return -1;
            const ssize_t n = ::recv(m_fd, reply + got, sizeof reply - got, 0);
            if (n <= 0)
                return -1;
            got += static_cast<std::size_t>(n);
        }
        if (::send(m_fd, ack.data(), ack.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(ack.size()))
            return -1;
        return Microseconds(Clock::now() - start);
    }

private:
    int m_fd { -1 };
};

void RemotePoll(benchmark::State& state, Carrier carrier)
{
    CUnitPair units;
    if (!units.Start(state))
        return;
    Ser2NetServer& server = units.server;
    CSimProcess& localUnit = units.localUnit;
    auto remote = OpenOn(carrier == Carrier::Raw ? server.RawName() : server.Rfc2217Name(), state);
    auto local = remote ? OpenOn(localUnit.SlavePath(), state) : nullptr;
    if (!local)
        return;
    // A third unit behind a server of its own for the bare client (raw only).
    CSimProcess bareUnit;
    Ser2NetServer bareServer;
    CBareClient client;
    const bool withBare = carrier == Carrier::Raw;
    if (withBare) {
        if (!StartUnit(bareUnit, state))
            return;
        if (!bareServer.Start(bareUnit.SlavePath()) || !client.Connect(bareServer.RawPort())) {
            state.SkipWithError(("the bare client's server: " + bareServer.Error()).c_str());
            return;
        }
    }
    const CCommand poll = PollFrame();
    for (int i = 0; i < kWarmUp; ++i) {
        ExchangeOnce(*remote, poll);
        ExchangeOnce(*local, poll);
        if (withBare)
            client.Exchange();
    }
    std::vector<double> remoteWall, remoteCpu, localWall, localCpu, bareWall;
    int bytes = 0;
    for (auto _ : state) {
        const ExchangeSample through = ExchangeOnce(*remote, poll);
        const ExchangeSample bare = ExchangeOnce(*local, poll);
        if (through.status != 0 || bare.status != 0) {
            state.SkipWithError(("POLL failed: " + CKRMSProtocol::ErrorText(through.status != 0 ? through.status : bare.status)).c_str());
            break;
        }
        if (withBare) {
            const double wall = client.Exchange();
            if (wall < 0) {
                state.SkipWithError("the bare client's POLL through ser2net failed");
                break;
            }
            bareWall.push_back(wall);
        }
        remoteWall.push_back(through.wallUs);
        remoteCpu.push_back(through.cpuUs);
        localWall.push_back(bare.wallUs);
        localCpu.push_back(bare.cpuUs);
        bytes = through.bytes;
    }
    if (remoteWall.empty())
        return;
    // The host's work is what the calling thread spends; everything else in
    // the wall time is the pty, the simulator and ser2net.
    const double wire = WireMicroseconds(bytes, 19200);
    state.counters["wire_us"] = wire;
    state.counters["host_cpu_p50_us"] = Percentile(remoteCpu, 0.50);
    state.counters["host_p50_pct_of_wire"] = 100.0 * Percentile(remoteCpu, 0.50) / wire;
    state.counters["pty_host_cpu_p50_us"] = Percentile(localCpu, 0.50);
    state.counters["wall_p50_us"] = Percentile(remoteWall, 0.50);
    state.counters["wall_p99_us"] = Percentile(remoteWall, 0.99);
    state.counters["pty_wall_p50_us"] = Percentile(localWall, 0.50);
    state.counters["pty_wall_p99_us"] = Percentile(localWall, 0.99);
    state.counters["p99_above_pty_ms"] = (Percentile(remoteWall, 0.99) - Percentile(localWall, 0.99)) / 1000.0;
    state.counters["hop_p50_us"] = Percentile(remoteWall, 0.50) - Percentile(localWall, 0.50);
    if (!bareWall.empty()) {
        state.counters["bare_client_wall_p99_us"] = Percentile(bareWall, 0.99);
        state.counters["bare_client_p99_above_pty_ms"]
            = (Percentile(bareWall, 0.99) - Percentile(localWall, 0.99)) / 1000.0;
    }
    bareServer.Stop();
    server.Stop();
}

void RawPoll(benchmark::State& state)
{
    RemotePoll(state, Carrier::Raw);
}
void Rfc2217Poll(benchmark::State& state)
{
    RemotePoll(state, Carrier::Rfc2217);
}
BENCHMARK(RawPoll)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Rfc2217Poll)->Iterations(2000)->Unit(benchmark::kMicrosecond);

// A unit that never answers, behind ser2net (RFC 2217) and on a bare pty,
// polled in turn: the process's CPU per timed-out POLL on each.
void SilentRemote(benchmark::State& state)
{
    CUnitPair units;
    if (!units.Start(state))
        return;
    Ser2NetServer& server = units.server;
    CSimProcess& remoteUnit = units.remoteUnit;
    CSimProcess& localUnit = units.localUnit;
    auto remote = OpenOn(server.Rfc2217Name(), state);
    auto local = remote ? OpenOn(localUnit.SlavePath(), state) : nullptr;
    if (!local)
        return;
    remoteUnit.Ask("silent on", "ok");
    localUnit.Ask("silent on", "ok");
    const CCommand poll = PollFrame();
    std::vector<double> remoteCpu, localCpu;
    for (auto _ : state) {
        auto cpuStart = ProcessCpuTime();
        ExchangeOnce(*remote, poll);
        remoteCpu.push_back(std::chrono::duration<double, std::micro>(ProcessCpuTime() - cpuStart).count());
        cpuStart = ProcessCpuTime();
        ExchangeOnce(*local, poll);
        localCpu.push_back(std::chrono::duration<double, std::micro>(ProcessCpuTime() - cpuStart).count());
    }
    state.counters["remote_cpu_us"] = Mean(remoteCpu);
    state.counters["tty_cpu_us"] = Mean(localCpu);
    state.counters["remote_minus_tty_cpu_us"] = Mean(remoteCpu) - Mean(localCpu);
    server.Stop();
}
BENCHMARK(SilentRemote)->Iterations(20)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace orvex

BENCHMARK_MAIN();
