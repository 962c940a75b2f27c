#include "capture/CWireWatch.h"

#include "capture/CWireMonitor.h"
#include "capture/CWireRelay.h"

namespace orvex {

namespace {

CExchangeAssembler::Settings AssemblerSettings(const WireWatchSettings& settings)
{
    // Two taps of a monitor are read side by side and may be read out of
    // turn; a relay reads both lines on one thread in order.
    return { static_cast<std::int64_t>(settings.gapMilliseconds) * 1000000, CWireWatch::kReplyWindowNs,
        settings.kind == WireWatchKind::Monitor && settings.paths.size() == 2 };
}

} // namespace

CWireWatch::CWireWatch(WireWatchSettings settings, CExchangeListener& listener)
    : m_settings(std::move(settings))
    , m_assembler(listener, AssemblerSettings(m_settings))
{
    const std::vector<std::string>& paths = m_settings.paths;
    if (m_settings.kind == WireWatchKind::Relay) {
        m_relay = std::make_unique<CWireRelay>(paths.at(0), paths.at(1), m_assembler);
        return;
    }
    std::vector<CWireMonitor::Tap> taps;
    if (paths.size() == 2) {
        taps.push_back({ paths[0], WireDirection::FromController });
        taps.push_back({ paths[1], WireDirection::FromDevice });
    } else {
        taps.push_back({ paths.at(0), WireDirection::Unknown });
    }
    m_monitor = std::make_unique<CWireMonitor>(std::move(taps), m_assembler);
}

CWireWatch::~CWireWatch() = default;

bool CWireWatch::Open(const std::string& modeText, std::string& error)
{
    return m_relay ? m_relay->Open(modeText, error) : m_monitor->Open(modeText, error);
}

WireEnd CWireWatch::Run(const std::atomic<int>& stop, std::chrono::steady_clock::time_point deadline)
{
    const WireEnd end = m_relay ? m_relay->Run(stop, deadline) : m_monitor->Run(stop, deadline);
    m_assembler.Finish();
    return end;
}

const std::string& CWireWatch::LossText() const
{
    return m_relay ? m_relay->LossText() : m_monitor->LossText();
}

} // namespace orvex
