#include "PanelFixture.h"

#include "vmc/CVMC.h"

#include <chrono>

using namespace orvex;
using namespace orvex::test;

TEST_F(PanelTest, TimingValuesBelowZeroCountAsZero)
{
    m_panel.ApplyTiming({ -5, -1, -20, 7 });
    const TimingSettings timing = m_panel.GetTiming();
    EXPECT_EQ(timing.responseTimeout, 0);
    EXPECT_EQ(timing.pollingInterval, 0);
    EXPECT_EQ(timing.intercommandInterval, 0);
    EXPECT_EQ(timing.commandPrefix, 0);
    EXPECT_EQ(m_application.Device().GetPollInterval(), 0);
    EXPECT_EQ(m_application.Protocol().GetIntercommandInterval(), 0);
    EXPECT_EQ(m_application.Protocol().GetResponseTimeout(), 0);
}

TEST_F(PanelTest, SpeedWithoutCurrentPortShowsThePortMessage)
{
    EXPECT_FALSE(m_panel.ChooseSpeed(19200));
    ASSERT_EQ(m_observer.Messages().size(), 1u);
    EXPECT_EQ(m_observer.Messages()[0], "Can't to initialize selected port!\nSelect another, pease.");
}

TEST_F(PanelTest, ChoosingAPortOpensItWithTheCheckedSpeed)
{
    EXPECT_TRUE(m_panel.ChooseSpeed(19200) == false);
    EXPECT_TRUE(m_panel.ChoosePort(0));
    EXPECT_EQ(m_panel.GetCurrentPort(), 0);
    EXPECT_EQ(m_application.Protocol().GetSerialMode(), "19200,n,8,1");
    // COM2 has no path: the open fails and the item stays the chosen one.
    EXPECT_FALSE(m_panel.ChoosePort(1));
    EXPECT_EQ(m_panel.GetCurrentPort(), 1);
    EXPECT_EQ(m_panel.GetPortItemState(0), COperatorPanel::PortItemState::Enabled);
    EXPECT_NE(m_panel.GetPortItemState(1), COperatorPanel::PortItemState::Enabled);
}

// Bounded as orvexctl bounds --timeout, --poll-interval and --intercommand.
TEST_F(PanelTest, TimingValuesAreBoundedToTenMinutes)
{
    m_panel.ApplyTiming({ 99999999, 99999999, 99999999, 0 });
    const TimingSettings timing = m_panel.GetTiming();
    EXPECT_EQ(timing.responseTimeout, TimingSettings::kMaxMilliseconds);
    EXPECT_EQ(timing.pollingInterval, TimingSettings::kMaxMilliseconds);
    EXPECT_EQ(m_application.Device().GetPollInterval(), TimingSettings::kMaxMilliseconds);
    EXPECT_EQ(m_application.Protocol().GetIntercommandInterval(), TimingSettings::kMaxMilliseconds);
    m_panel.ApplyTiming({ 200, 150, 0, 0 });
}

TEST_F(PanelTest, AttachMakesTheFoundPortCurrent)
{
    m_application.Engine().SetDeviceAddress(1);
    m_panel.Attach(0);
    EXPECT_EQ(m_panel.GetCurrentPort(), 0);
    EXPECT_EQ(m_panel.GetMembers().deviceAddress, 1);
    EXPECT_EQ(m_application.Protocol().GetObserver(), &m_log);
    EXPECT_TRUE(m_observer.Messages().empty());
}

TEST_F(PanelTest, AttachWithoutFoundPortChecksNoItem)
{
    m_panel.Attach(COperatorPanel::kNoPort);
    EXPECT_EQ(m_panel.GetCurrentPort(), COperatorPanel::kNoPort);
}

// The card-reader search leaves the mode at 19200; with nothing found the
// menu shows 9600 and a port chosen from it opens at 9600.
TEST_F(PanelTest, NothingFoundLeavesTheMenuAt9600)
{
    m_application.Protocol().SetSerialMode("19200,n,8,1");
    m_panel.Attach(COperatorPanel::kNoPort);
    EXPECT_EQ(m_panel.GetSpeed(), 9600);
    EXPECT_EQ(m_application.Protocol().GetSerialMode(), "9600,n,8,1");
    ASSERT_TRUE(m_panel.ChoosePort(0));
    EXPECT_EQ(m_application.Protocol().GetSerialMode(), "9600,n,8,1");

    // A port found at 19200 keeps it.
    m_application.Protocol().SetSerialMode("19200,n,8,1");
    m_panel.Attach(0);
    EXPECT_EQ(m_panel.GetSpeed(), 19200);
}

TEST_F(PanelTest, OptionBoxesReachTheEngineAndTheLog)
{
    Set([](PanelMembers& m) {
        m.returnBills = 1;
        m.resetOnError = 1;
        m.displayExchange = 0;
    });
    m_panel.ReturnBox();
    m_panel.ResetOnErrorBox();
    m_panel.DisplayExchangeBox();
    EXPECT_FALSE(m_application.Engine().GetStackBills());
    EXPECT_TRUE(m_application.Engine().GetBusResetOnLostContact());
    EXPECT_EQ(m_log.GetDecodeFlag(), 0);
}

TEST_F(PanelTest, PollingModeStartsAndStopsTheEngine)
{
    Silence();
    Set([](PanelMembers& m) {
        m.enabledBills = "00FF";
        m.escrowMask = "";
        m.security = "12";
        m.options = "zz";
        m.reset = 1;
        m.deviceAddress = 1;
        m.barcodeLength = 12;
        m.resultLine = "Poll: OK";
    });
    m_log.WriteExchange("POLL", { "-> 02 03 06 33 DA 81 ", "<- Timeout" });
    ASSERT_FALSE(m_log.GetLastExchangeText().empty());

    ASSERT_TRUE(m_panel.StartPolling());
    EXPECT_TRUE(m_panel.IsPolling());
    EXPECT_EQ(m_panel.GetResultLine(), "");
    EXPECT_EQ(m_application.Device().GetPollInterval(), 250);
    EXPECT_EQ(m_log.GetSequenceFlag(), 1);
    CVMC& engine = m_application.Engine();
    EXPECT_EQ(engine.GetEnabledBills(), 0xFFu);
    EXPECT_EQ(engine.GetEscrowMask(), 0u);
    EXPECT_EQ(engine.GetSecurityLevels(), 0x12u);
    EXPECT_EQ(engine.GetOptions(), 0u);
    EXPECT_TRUE(engine.GetResetAtStart());
    EXPECT_EQ(engine.GetDeviceAddress(), 1);
    EXPECT_EQ(engine.GetBarcodeLength(), 12);

    m_panel.StopPolling();
    EXPECT_FALSE(m_panel.IsPolling());
    EXPECT_EQ(m_log.GetSequenceFlag(), 0);
    EXPECT_EQ(m_panel.GetMembers().pollingMode, 0);
    EXPECT_EQ(m_observer.Buttons(), (std::vector<bool> { false, true }));
}

TEST_F(PanelTest, PollingStopIsBoundedWhileTheDeviceIsSilent)
{
    Silence();
    ASSERT_TRUE(m_panel.StartPolling());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    m_panel.StopPolling();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST(PanelButtons, TheDisabledListHasTheTwentyNineCommandButtons)
{
    const auto& buttons = COperatorPanel::PollingDisabledButtons();
    EXPECT_EQ(buttons.size(), 29u);
    EXPECT_NE(std::find(buttons.begin(), buttons.end(), "Get level"), buttons.end());
    EXPECT_EQ(std::find(buttons.begin(), buttons.end(), "Diagnostic"), buttons.end());
}
