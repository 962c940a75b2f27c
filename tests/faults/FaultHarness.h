#pragma once

#include "decode/CExchangeLog.h"
#include "device/CKRMSInterface.h"
#include "sim/CSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex::test {

using namespace std::chrono_literals;

// Keeps every log line; safe from the engine's thread and the test's.
class CFaultSink final : public CLogSink {
public:
    void AddLine(std::string_view line) override
    {
        std::lock_guard lock(m_mutex);
        m_lines.emplace_back(line);
    }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }

    std::vector<std::string> Lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    int Count(std::string_view line) const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(std::count(m_lines.begin(), m_lines.end(), line));
    }
    bool Has(std::string_view line) const { return Count(line) > 0; }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

private:
    mutable std::mutex m_mutex; // guards m_lines
    std::vector<std::string> m_lines;
};

inline bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

inline SimOptions FastUnit(SimDeviceKind kind = SimDeviceKind::Cyclor)
{
    SimOptions options;
    options.device = kind;
    options.pace = 0.02;
    options.escrowTimeoutSeconds = 0;
    options.takeTimeoutSeconds = 0.2;
    return options;
}

// The virtual peripheral on a pty, the device interface on its slave side
// and the exchange log as the protocol engine's observer, raw frames on so
// that the host's ACK and NAK show.
class FaultTest : public ::testing::Test {
protected:
    static constexpr int kResponseTimeout = 200;

    void Begin(SimOptions options = FastUnit(), const std::string& link = {})
    {
        m_simulator = std::make_unique<CSimulator>(options);
        m_slave = m_simulator->StartPty(link);
        ASSERT_FALSE(m_slave.empty()) << m_simulator->LastError();
        m_device = std::make_unique<CKRMSInterface>(CPortTable(std::vector<std::string> { link.empty() ? m_slave : link }));
        ASSERT_NE(m_device->OpenPort(0, kResponseTimeout), 0) << m_device->GetProtocol()->GetPort()->DescribePortError(0);
        m_device->SetIntercommandInterval(1);
        m_device->SetPollInterval(10);
        m_log = std::make_unique<CExchangeLog>(m_device->GetProtocol(), m_sink);
        m_log->SetRawFrames(1);
        Protocol().SetObserver(m_log.get());
        // Past power-up, so that every fault command applies.
        ASSERT_TRUE(Eventually([this] { return m_device->InitRecycler(0, 18, 0x60000000, 1, 0) == 0; }, 10s));
        m_sink.Clear();
    }

    void TearDown() override
    {
        if (m_device)
            Protocol().SetObserver(nullptr);
        m_log.reset();
        m_device.reset();
        if (m_simulator)
            m_simulator->Stop();
    }

    CKRMSProtocol& Protocol() { return *m_device->GetProtocol(); }
    std::string Control(const std::string& line) { return m_simulator->Control(line); }

    std::unique_ptr<CSimulator> m_simulator;
    std::string m_slave;
    std::unique_ptr<CKRMSInterface> m_device;
    CFaultSink m_sink;
    std::unique_ptr<CExchangeLog> m_log;
};

} // namespace orvex::test
