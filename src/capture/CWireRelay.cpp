#include "capture/CWireRelay.h"

#include "link/CLineTap.h"

#include <poll.h>
#include <time.h>

namespace orvex {

namespace {

constexpr int kPollMilliseconds = 20;
constexpr int kChunkCapacity = 4096;
// A line that takes no byte for this long is treated as gone.
constexpr int kWriteTimeoutMilliseconds = 1000;

std::int64_t MonotonicNanoseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

} // namespace

CWireRelay::CWireRelay(std::string controllerPath, std::string devicePath, CExchangeAssembler& assembler)
    : m_controller(std::move(controllerPath))
    , m_device(std::move(devicePath))
    , m_assembler(assembler)
{
}

CWireRelay::~CWireRelay()
{
    m_stopForwarding.store(true);
    if (m_forwarder.joinable())
        m_forwarder.join();
}

bool CWireRelay::Open(const std::string& modeText, std::string& error)
{
    if (!m_controller.Open(modeText, error) || !m_device.Open(modeText, error))
        return false;
    const std::int64_t now = WallClockNanoseconds();
    m_assembler.Event(WireEvent { 0, now, "opened at " + modeText });
    m_assembler.Event(WireEvent { 1, now, "opened at " + modeText });
    return true;
}

std::vector<std::int64_t> CWireRelay::Latencies(WireDirection direction) const
{
    std::lock_guard guard(m_mutex);
    return m_latencies[direction == WireDirection::FromController ? 0 : 1];
}

void CWireRelay::Forward()
{
    CBusPort* ports[2] { &m_controller, &m_device };
    std::uint8_t buffer[kChunkCapacity];
    while (!m_stopForwarding.load()) {
        pollfd entries[2] { { m_controller.Handle(), POLLIN, 0 }, { m_device.Handle(), POLLIN, 0 } };
        const int ready = ::poll(entries, 2, kPollMilliseconds);
        // Only a look that found nothing says the lines were drained; bytes
        // found ready may have waited there while this thread was late.
        if (ready == 0)
            m_lookedNs.store(WallClockNanoseconds());
        if (ready <= 0)
            continue;
        for (int from = 0; from < 2; ++from) {
            if (entries[from].revents == 0)
                continue;
            const int got = ports[from]->ReadAvailable(buffer, kChunkCapacity);
            const std::int64_t readNs = MonotonicNanoseconds();
            const std::int64_t timeNs = WallClockNanoseconds();
            CBusPort& to = *ports[1 - from];
            bool lost = got < 0;
            int lostPort = from;
            if (got > 0 && !to.WriteAll(buffer, got, kWriteTimeoutMilliseconds)) {
                lost = true;
                lostPort = 1 - from;
            }
            const std::int64_t writtenNs = MonotonicNanoseconds();
            std::lock_guard guard(m_mutex);
            if (got > 0) {
                m_queue.push_back(Chunk { from, timeNs, std::vector<std::uint8_t>(buffer, buffer + got) });
                if (m_keepLatencies)
                    m_latencies[from].push_back(writtenNs - readNs);
            }
            if (lost) {
                m_lost = true;
                m_lostPort = lostPort;
                m_loss = ports[lostPort]->LossText();
            }
            m_ready.notify_one();
            if (lost)
                return;
        }
    }
}

WireEnd CWireRelay::Run(const std::atomic<int>& stop, std::chrono::steady_clock::time_point deadline)
{
    m_stopForwarding.store(false);
    m_lookedNs.store(WallClockNanoseconds());
    m_forwarder = std::thread([this] { Forward(); });
    std::vector<Chunk> taken;
    bool lost = false;
    auto handOn = [&] {
        for (Chunk& chunk : taken) {
            const WireDirection direction = chunk.port == 0 ? WireDirection::FromController : WireDirection::FromDevice;
            m_assembler.Feed(chunk.port, direction, chunk.timeNs, chunk.bytes);
        }
        taken.clear();
    };
    while (stop.load() == 0 && std::chrono::steady_clock::now() < deadline && !lost) {
        std::int64_t lookedNs = 0;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait_for(lock, std::chrono::milliseconds(kPollMilliseconds), [this] { return !m_queue.empty() || m_lost; });
            taken.swap(m_queue);
            lost = m_lost;
            // Read with the queue: every chunk read before that look is in hand.
            lookedNs = m_lookedNs.load();
        }
        handOn();
        m_assembler.Idle(lookedNs);
    }
    m_stopForwarding.store(true);
    m_forwarder.join();
    {
        std::lock_guard guard(m_mutex);
        taken.swap(m_queue);
        lost = m_lost;
    }
    handOn();
    if (!lost)
        return WireEnd::Stopped;
    const CBusPort& port = m_lostPort == 0 ? m_controller : m_device;
    m_assembler.Event(WireEvent { m_lostPort, WallClockNanoseconds(), m_loss.substr(port.Path().size() + 2) });
    return WireEnd::PortLost;
}

} // namespace orvex
