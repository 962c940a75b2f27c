#include "device/CKRMSInterface.h"
#include "protocol/COutputInterface.h"
#include "sim/CSimulator.h"
#include "vmc/CVMC.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using namespace orvex;

namespace {

// Counts the exchanges by log name and keeps the free-standing lines.
class CountingLog : public COutputInterface {
public:
    void OnCommandDone(std::string name) override
    {
        std::lock_guard lock(m_mutex);
        m_names.push_back(std::move(name));
    }
    void OutputLine(std::string line) override
    {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(std::move(line));
    }
    int Count(const std::string& name) const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(std::count(m_names.begin(), m_names.end(), name));
    }
    int Lines(const std::string& line) const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(std::count(m_lines.begin(), m_lines.end(), line));
    }

private:
    mutable std::mutex m_mutex; // guards both lists
    std::vector<std::string> m_names;
    std::vector<std::string> m_lines;
};

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 15s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

SimOptions FastCyclor()
{
    SimOptions options;
    options.pace = 0.02;
    options.escrowTimeoutSeconds = 0;
    return options;
}

// The engine on a device interface on the simulator's pty.
class EngineOnSimulator : public ::testing::Test {
protected:
    void Begin(SimOptions options = FastCyclor(), int address = 1)
    {
        m_simulator = std::make_unique<CSimulator>(options);
        const std::string path = m_simulator->StartPty();
        ASSERT_FALSE(path.empty()) << m_simulator->LastError();
        m_device = std::make_unique<CKRMSInterface>(CPortTable(std::vector<std::string> { path }));
        ASSERT_NE(m_device->OpenPort(0, 200), 0);
        m_device->SetIntercommandInterval(2);
        m_device->SetPollInterval(20);
        m_device->GetProtocol()->SetObserver(&m_log);
        m_engine = std::make_unique<CVMC>(m_device.get());
        m_engine->SetDeviceAddress(address);
    }
    void TearDown() override
    {
        if (m_engine)
            m_engine->Stop();
        if (m_device)
            m_device->GetProtocol()->SetObserver(nullptr);
        if (m_simulator)
            m_simulator->Stop();
    }
    SimSnapshot Snapshot() const { return m_simulator->Snapshot(); }
    bool Idling()
    {
        return Eventually([this] { return Snapshot().state == 0x14; });
    }

    CountingLog m_log;
    std::unique_ptr<CSimulator> m_simulator;
    std::unique_ptr<CKRMSInterface> m_device;
    std::unique_ptr<CVMC> m_engine;
};

} // namespace

TEST_F(EngineOnSimulator, StackModeStacksEveryBill)
{
    Begin();
    ASSERT_TRUE(m_engine->Start());
    ASSERT_TRUE(Idling());
    const SimLedger before = Snapshot().ledger;
    m_simulator->Control("insert 2");
    ASSERT_TRUE(Eventually([&] {
        const SimLedger now = Snapshot().ledger;
        return now.CassetteTotal() + now.dropBox == before.CassetteTotal() + before.dropBox + 1;
    }));
    const SimLedger after = Snapshot().ledger;
    EXPECT_EQ(after.returned, before.returned);
    EXPECT_TRUE(after.Balanced());
    EXPECT_GE(m_log.Count("PACK"), 1);
    EXPECT_EQ(m_log.Count("RETURN"), 0);
}

TEST_F(EngineOnSimulator, ReturnModeReturnsEveryBillAndStaysEnabled)
{
    Begin();
    m_engine->SetStackBills(false);
    ASSERT_TRUE(m_engine->Start());
    ASSERT_TRUE(Idling());
    const SimLedger before = Snapshot().ledger;
    m_simulator->Control("insert 1");
    ASSERT_TRUE(Eventually([&] { return Snapshot().ledger.returned == before.returned + 1; }));
    ASSERT_TRUE(Idling());
    const SimSnapshot after = Snapshot();
    EXPECT_EQ(after.ledger.CassetteTotal(), before.CassetteTotal());
    EXPECT_EQ(after.ledger.dropBox, before.dropBox);
    EXPECT_EQ(after.enableMask, 0xFFFFFFu);
    EXPECT_EQ(m_log.Count("PACK"), 0);
}

TEST_F(EngineOnSimulator, DisabledDeviceIsEnabledWithTheConfiguredBills)
{
    Begin();
    m_engine->SetEnabledBills(0x00000F);
    ASSERT_TRUE(m_engine->Start());
    ASSERT_TRUE(Eventually([this] { return Snapshot().enableMask == 0x0Fu; }));
    EXPECT_TRUE(Idling());
}

TEST_F(EngineOnSimulator, EnabledBillsOfZeroLeavesTheDeviceDisabled)
{
    Begin();
    m_engine->SetEnabledBills(0);
    ASSERT_TRUE(m_engine->Start());
    ASSERT_TRUE(Eventually([this] { return m_log.Count("POLL") > 30; }));
    const SimSnapshot snapshot = Snapshot();
    EXPECT_EQ(snapshot.state, 0x19);
    EXPECT_EQ(snapshot.enableMask, 0u);
}

TEST_F(EngineOnSimulator, PowerCutReinitialisesWithReset)
{
    Begin();
    ASSERT_TRUE(m_engine->Start());
    ASSERT_TRUE(Idling());
    const int resets = m_log.Count("RESET");
    const int identifications = m_log.Count("IDENTIFICATION");
    m_simulator->Control("power-cut");
    ASSERT_TRUE(Eventually([&] { return m_log.Count("RESET") > resets; }));
    ASSERT_TRUE(Eventually([&] { return m_log.Count("IDENTIFICATION") > identifications; }));
    EXPECT_TRUE(Idling());
    EXPECT_EQ(Snapshot().enableMask, 0xFFFFFFu);
}

TEST_F(EngineOnSimulator, SilentDeviceLosesContactAndGetsABusReset)
{
    Begin();
    m_engine->SetBusResetOnLostContact(true);
    ASSERT_TRUE(m_engine->Start());
    ASSERT_TRUE(Idling());
    m_simulator->Control("silent on");
    ASSERT_TRUE(Eventually([this] { return m_log.Lines("== BUS RESET ==") >= 1; }, 20s));
    m_simulator->Control("silent off");
    // The next POLL decides: the unit answers again and is polled on.
    const int polls = m_log.Count("POLL");
    EXPECT_TRUE(Eventually([&] { return m_log.Count("POLL") > polls + 3; }, 20s));
}

TEST_F(EngineOnSimulator, StopEndsALongWaitAtItsNextPoll)
{
    Begin();
    // BUSY never ends a wait, so initialisation waits as long as it may.
    m_simulator->Control("busy 600");
    ASSERT_TRUE(m_engine->Start());
    ASSERT_TRUE(Eventually([this] { return m_log.Count("POLL") > 10; }));
    const auto start = std::chrono::steady_clock::now();
    m_engine->RequestStop();
    EXPECT_TRUE(m_engine->WaitForEnd(3s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

TEST_F(EngineOnSimulator, StopAndStartAgainInitialisesAgain)
{
    Begin();
    ASSERT_TRUE(m_engine->Start());
    ASSERT_TRUE(Idling());
    m_engine->Stop();
    const int identifications = m_log.Count("IDENTIFICATION");
    ASSERT_TRUE(m_engine->Start());
    ASSERT_TRUE(Eventually([&] { return m_log.Count("IDENTIFICATION") > identifications; }));
    EXPECT_TRUE(Idling());
    m_engine->Stop();
    EXPECT_FALSE(m_engine->IsRunning());
}
