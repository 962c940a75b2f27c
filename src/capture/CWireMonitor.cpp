#include "capture/CWireMonitor.h"

#include "link/CLineTap.h"

#include <poll.h>

namespace orvex {

namespace {

constexpr int kPollMilliseconds = 20;
constexpr int kChunk = 4096;

} // namespace

CWireMonitor::CWireMonitor(std::vector<Tap> taps, CExchangeAssembler& assembler)
    : m_taps(std::move(taps))
    , m_assembler(assembler)
{
}

bool CWireMonitor::Open(const std::string& modeText, std::string& error)
{
    m_ports.clear();
    for (const Tap& tap : m_taps)
        m_ports.emplace_back(tap.path);
    for (std::size_t index = 0; index < m_ports.size(); ++index) {
        if (!m_ports[index].Open(modeText, error))
            return false;
        m_assembler.Event(WireEvent { static_cast<int>(index), WallClockNanoseconds(), "opened at " + modeText });
    }
    return true;
}

WireEnd CWireMonitor::Run(const std::atomic<int>& stop, std::chrono::steady_clock::time_point deadline)
{
    std::vector<pollfd> entries(m_ports.size());
    std::uint8_t buffer[kChunk];
    while (stop.load() == 0 && std::chrono::steady_clock::now() < deadline) {
        // After the wait, the taps are looked at again without waiting until
        // one look finds none of them ready: a reply can reach its tap after
        // the poll and before the controller's ACK is read from the other,
        // and the frames held for Idle must include everything that came
        // before what was read, or the ACK would close the exchange as a
        // time-out that never happened. A read that fills the chunk is
        // followed by another, which may find the tty empty: that is no loss.
        for (int waitMs = kPollMilliseconds;; waitMs = 0) {
            for (std::size_t index = 0; index < m_ports.size(); ++index)
                entries[index] = pollfd { m_ports[index].Handle(), POLLIN, 0 };
            if (::poll(entries.data(), entries.size(), waitMs) <= 0)
                break;
            for (std::size_t index = 0; index < m_ports.size(); ++index) {
                if (entries[index].revents == 0)
                    continue;
                for (;;) {
                    const int got = m_ports[index].ReadAvailable(buffer, kChunk);
                    const std::int64_t now = WallClockNanoseconds();
                    if (got < 0) {
                        m_loss = m_ports[index].LossText();
                        m_assembler.Event(
                            WireEvent { static_cast<int>(index), now, m_loss.substr(m_ports[index].Path().size() + 2) });
                        return WireEnd::PortLost;
                    }
                    if (got == 0)
                        break;
                    m_assembler.Feed(static_cast<int>(index), m_taps[index].direction, now,
                        { buffer, static_cast<std::size_t>(got) });
                    if (got < kChunk)
                        break;
                }
            }
        }
        m_assembler.Idle(WallClockNanoseconds());
    }
    return WireEnd::Stopped;
}

} // namespace orvex
