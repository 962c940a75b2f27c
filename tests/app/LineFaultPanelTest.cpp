// What the operator reads when the line itself fails under a command.
#include "PanelFixture.h"

#include <algorithm>

using namespace orvex;
using namespace orvex::test;
using Outcome = COperatorPanel::Outcome;

TEST_F(PanelTest, ARemovedDeviceIsNamedInTheResultLineAndLoggedOnce)
{
    Silence();
    EXPECT_EQ(m_panel.Run(CommandId::Poll), Outcome::Failed);
    EXPECT_EQ(m_panel.GetResultLine(), "Poll: Timeout") << "a silent unit reads as it always did";

    const std::string path = m_peer.SlavePath();
    m_peer.HangUp();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m_panel.Run(CommandId::Poll), Outcome::Failed);
        EXPECT_EQ(m_panel.GetResultLine(), "Poll: Timeout (device disconnected)");
    }
    EXPECT_EQ(m_panel.Run(CommandId::StatusRequest), Outcome::Failed);
    EXPECT_EQ(m_panel.GetResultLine(), "Status : Timeout (device disconnected)");
    const auto lines = m_sink.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), path + ": device disconnected"), 1);
}
