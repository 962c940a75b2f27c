#include "FakeDevice.h"

#include "vmc/CVMC.h"

#include <gtest/gtest.h>

#include <atomic>

#include <algorithm>

using namespace std::chrono_literals;
using orvex::CVMC;
using orvex::test::FakeDevice;

namespace {

// A device that idles except for the answers given by poll index.
FakeDevice::PollScript Idle(std::vector<std::pair<int, FakeDevice::PollAnswer>> special = {})
{
    return [special](int index) {
        for (const auto& [at, answer] : special) {
            if (at == index)
                return answer;
        }
        return FakeDevice::PollAnswer { 0, 0x14, 0 };
    };
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_device.SetPollInterval(1);
        m_engine.SetDeviceAddress(1);
    }
    void TearDown() override { m_engine.Stop(); }

    FakeDevice m_device;
    CVMC m_engine { &m_device };
};

} // namespace

TEST_F(EngineTest, StartInitialisesReadsCassettesThenPolls)
{
    m_device.SetPollScript(Idle());
    ASSERT_TRUE(m_engine.Start());
    ASSERT_TRUE(m_device.WaitFor("Poll", 3));
    m_engine.Stop();
    const auto calls = m_device.Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0], "InitRecycler");
    EXPECT_EQ(calls[1], "GetStatus");
    EXPECT_EQ(calls[2], "GetCassettes");
    EXPECT_EQ(calls[3], "Poll");
    EXPECT_EQ(m_device.LastAddress(), 1);
    EXPECT_EQ(m_device.InitResetFlags().front(), 0);
    EXPECT_FALSE(m_engine.IsRunning());
    EXPECT_EQ(m_engine.GetCassettes()[5].billCount, 5);
}

TEST_F(EngineTest, FailedInitialisationSkipsStatusAndWaitsForUsableState)
{
    m_device.SetInitResult(-1000);
    m_device.SetPollScript(Idle());
    ASSERT_TRUE(m_engine.Start());
    ASSERT_TRUE(m_device.WaitFor("Poll", 1));
    m_engine.Stop();
    const auto calls = m_device.Calls();
    EXPECT_EQ(calls[1], "WaitState 75 5");
    EXPECT_EQ(calls[2], "GetCassettes");
    EXPECT_EQ(m_device.Count("GetStatus"), 0);
}

TEST_F(EngineTest, EscrowedBillIsStackedInStackMode)
{
    m_device.SetPollScript(Idle({ { 1, { 0, 0x80, 2 } } }));
    ASSERT_TRUE(m_engine.Start());
    ASSERT_TRUE(m_device.WaitFor("StackBill", 1));
    // After the bill, idling reads the cassettes again.
    ASSERT_TRUE(m_device.WaitFor("GetCassettes", 3));
    m_engine.Stop();
    EXPECT_EQ(m_device.Count("ReturnBill"), 0);
    EXPECT_EQ(m_device.Count("ReadBarcode"), 0);
}

TEST_F(EngineTest, EscrowedBillIsReturnedInReturnMode)
{
    m_engine.SetStackBills(false);
    m_device.SetPollScript(Idle({ { 1, { 0, 0x80, 2 } }, { 4, { 0, 0x80, 3 } } }));
    ASSERT_TRUE(m_engine.Start());
    ASSERT_TRUE(m_device.WaitFor("ReturnBill", 2));
    m_engine.Stop();
    EXPECT_EQ(m_device.Count("StackBill"), 0);
}

TEST_F(EngineTest, BarcodeCouponIsReadInEscrowAndWhenStacked)
{
    m_device.SetPollScript(Idle({ { 1, { 0, 0x80, 23 } }, { 3, { 0, 0x81, 23 } } }));
    ASSERT_TRUE(m_engine.Start());
    ASSERT_TRUE(m_device.WaitFor("ReadBarcode", 2));
    ASSERT_TRUE(m_device.WaitFor("Poll", 6));
    m_engine.Stop();
    EXPECT_EQ(m_device.Count("ReadBarcode"), 2);
}

TEST_F(EngineTest, DisabledDeviceIsEnabledWithBothMasks)
{
    m_engine.SetEnabledBills(0x00000F);
    m_engine.SetEscrowMask(0x3);
    m_device.SetPollScript([](int) { return FakeDevice::PollAnswer { 0, 0x19, 0 }; });
    ASSERT_TRUE(m_engine.Start());
    ASSERT_TRUE(m_device.WaitFor("EnableBills", 2));
    m_engine.Stop();
    EXPECT_EQ(m_device.LastEnabled(), 0x0Fu);
    EXPECT_EQ(m_device.LastEscrow(), 0x3u);
}

TEST_F(EngineTest, EnabledBillsOfZeroNeverEnables)
{
    m_engine.SetEnabledBills(0);
    m_device.SetPollScript([](int) { return FakeDevice::PollAnswer { 0, 0x19, 0 }; });
    ASSERT_TRUE(m_engine.Start());
    ASSERT_TRUE(m_device.WaitFor("Poll", 20));
    m_engine.Stop();
    EXPECT_EQ(m_device.Count("EnableBills"), 0);
}

TEST_F(EngineTest, PowerUpReinitialisesWithReset)
{
    m_device.SetPollScript(Idle({ { 2, { 0, 0x11, 0 } } }));
    ASSERT_TRUE(m_engine.Start());
    ASSERT_TRUE(m_device.WaitFor("InitRecycler", 2));
    ASSERT_TRUE(m_device.WaitFor("Poll", 5));
    m_engine.Stop();
    EXPECT_EQ(m_device.InitResetFlags(), (std::vector<int> { 0, 1 }));
}

TEST_F(EngineTest, FailureStateLeadsToLostContactHandling)
{
    m_device.SetPollScript(Idle({ { 1, { 0, 0x43, 0 } } }));
    ASSERT_TRUE(m_engine.Start());
    ASSERT_TRUE(m_device.WaitFor("WaitState 75 5", 1));
    m_engine.Stop();
}

TEST_F(EngineTest, FiveSilentPollsAreRetriedThenContactIsLost)
{
    m_device.SetWaitResult(0);
    m_engine.SetBusResetOnLostContact(true);
    m_device.SetPollScript([](int) { return FakeDevice::PollAnswer { -1, 0, 0 }; });
    ASSERT_TRUE(m_engine.Start());
    ASSERT_TRUE(m_device.WaitFor("BusReset", 2));
    m_engine.Stop();
    const auto calls = m_device.Calls();
    // The first lost-contact wait comes right after the sixth failed POLL.
    const auto firstWait = std::find(calls.begin(), calls.end(), "WaitState 75 5");
    ASSERT_NE(firstWait, calls.end());
    EXPECT_EQ(std::count(calls.begin(), firstWait, "Poll"), 6);
    EXPECT_EQ(*(firstWait + 1), "BusReset");
    // From then on every failed POLL waits again.
    EXPECT_EQ(*(firstWait + 2), "Poll");
    EXPECT_EQ(*(firstWait + 3), "WaitState 75 5");
}

TEST_F(EngineTest, NoBusResetWithoutTheOption)
{
    m_device.SetWaitResult(0);
    m_device.SetPollScript([](int) { return FakeDevice::PollAnswer { -1, 0, 0 }; });
    ASSERT_TRUE(m_engine.Start());
    ASSERT_TRUE(m_device.WaitFor("WaitState 75 5", 3));
    m_engine.Stop();
    EXPECT_EQ(m_device.Count("BusReset"), 0);
}

TEST_F(EngineTest, RecoveredPollResetsTheFailureCount)
{
    m_device.SetPollScript([](int index) {
        // Four failures, one answer, four failures, ...
        return index % 5 == 4 ? FakeDevice::PollAnswer { 0, 0x14, 0 } : FakeDevice::PollAnswer { -1, 0, 0 };
    });
    ASSERT_TRUE(m_engine.Start());
    ASSERT_TRUE(m_device.WaitFor("Poll", 40));
    m_engine.Stop();
    EXPECT_EQ(m_device.Count("WaitState 75 5"), 0);
}

TEST(EngineThread, StopEndsALongWaitInsideInitialisation)
{
    FakeDevice device;
    device.SetInitBlocks(true);
    CVMC engine(&device);
    ASSERT_TRUE(engine.Start());
    ASSERT_TRUE(device.WaitFor("InitRecycler", 1));
    EXPECT_TRUE(device.StopRequested() == false);
    engine.RequestStop();
    EXPECT_TRUE(engine.WaitForEnd(3s));
    EXPECT_EQ(device.Count("Poll"), 0);
    // The thread's exit clears the stop flag it gave the interface.
    EXPECT_FALSE(device.StopRequested());
}

TEST(EngineThread, StartsAgainFromTheBeginningAfterAStop)
{
    FakeDevice device;
    device.SetPollInterval(1);
    device.SetPollScript(Idle());
    CVMC engine(&device);
    ASSERT_TRUE(engine.Start());
    ASSERT_TRUE(device.WaitFor("Poll", 2));
    engine.Stop();
    EXPECT_EQ(engine.GetCassettes()[0].status, 0);
    ASSERT_TRUE(engine.Start());
    ASSERT_TRUE(device.WaitFor("InitRecycler", 2));
    ASSERT_TRUE(device.WaitFor("Poll", device.Count("Poll") + 2));
    engine.Stop();
    EXPECT_EQ(engine.GetRunCount(), 2);
    EXPECT_EQ(device.Count("InitRecycler"), 2);
}

TEST(EngineThread, ThreadStartMarksCassettesNotRead)
{
    FakeDevice device;
    device.SetInitBlocks(true);
    CVMC engine(&device);
    ASSERT_TRUE(engine.Start());
    ASSERT_TRUE(device.WaitFor("InitRecycler", 1));
    const auto cassettes = engine.GetCassettes();
    engine.Stop();
    for (const auto& record : cassettes) {
        EXPECT_EQ(record.status, orvex::kCassetteNotRead);
        EXPECT_EQ(record.billCount, 0);
        EXPECT_EQ(record.billType, 255);
    }
}

TEST(EngineThread, StopRightAfterStartIsNotLost)
{
    FakeDevice device;
    device.SetPollScript(Idle());
    CVMC engine(&device);
    ASSERT_TRUE(engine.Start());
    engine.RequestStop();
    EXPECT_TRUE(engine.WaitForEnd(3s));
}

TEST(EngineThread, RunWithoutDeviceEndsAtOnce)
{
    CVMC engine(nullptr);
    std::atomic<int> closing { 1 };
    engine.SetClosingFlag(&closing);
    ASSERT_TRUE(engine.Start());
    EXPECT_TRUE(engine.WaitForEnd(3s));
    EXPECT_EQ(engine.GetExitCode(), CVMC::kNoDevice);
    // Run clears the closing flag first.
    EXPECT_EQ(closing.load(), 0);
}

TEST(EngineThread, StartWhileRunningIsRefused)
{
    FakeDevice device;
    device.SetInitBlocks(true);
    CVMC engine(&device);
    ASSERT_TRUE(engine.Start());
    EXPECT_FALSE(engine.Start());
    engine.Stop();
}
