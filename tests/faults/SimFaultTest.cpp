// Each fault the virtual peripheral can inject, through single commands:
// the result code and log line the command set and decoders define, the
// host's NAK where the transaction rules want one, and an exchange that
// succeeds right after.
#include "FaultHarness.h"
#include "link/CCommand.h"
#include "link/CheckCode.h"

using namespace orvex;
using namespace orvex::test;

namespace {

class SimFault : public FaultTest {
protected:
    void SetUp() override { Begin(); }

    // The line after the header of the last exchange written.
    std::string LastDecodedLine()
    {
        auto lines = m_sink.Lines();
        for (auto it = lines.rbegin(); it != lines.rend(); ++it)
            if (it->rfind("->", 0) == 0 && it->find(" (") != std::string::npos && it->back() == ')' && it->compare(0, 3, "-> ") != 0)
                return std::next(it) == lines.rbegin() ? std::string() : *std::prev(it);
        return {};
    }
    bool NakSent() { return m_sink.Has("-> 02 01 06 FF 02 38 "); }
    void ExpectRecovered()
    {
        EXPECT_TRUE(Protocol().Poll(1)) << CKRMSProtocol::ErrorText(Protocol().GetLastResultCode());
        EXPECT_EQ(Protocol().GetLastResultCode(), 0);
    }
};

} // namespace

TEST_F(SimFault, CorruptNextGivesCrcErrorAndNak)
{
    ASSERT_EQ(Control("corrupt next").rfind("ok", 0), 0u);
    EXPECT_FALSE(Protocol().Poll(1));
    EXPECT_EQ(Protocol().GetLastResultCode(), kCrcError);
    EXPECT_TRUE(m_sink.Has("<- CRC error"));
    EXPECT_TRUE(NakSent());
    ExpectRecovered();
}

TEST_F(SimFault, GarbageNextGivesSynchronizationErrorAndNak)
{
    ASSERT_EQ(Control("garbage next").rfind("ok", 0), 0u);
    EXPECT_FALSE(Protocol().Identification(1));
    EXPECT_EQ(Protocol().GetLastResultCode(), kSynchronizationError);
    EXPECT_TRUE(m_sink.Has("<- Synchronization error"));
    EXPECT_TRUE(NakSent());
    ExpectRecovered();
}

TEST_F(SimFault, NakNextGivesAckNotReceivedAndTheCommandRecordedTwice)
{
    ASSERT_EQ(Control("nak next").rfind("ok", 0), 0u);
    EXPECT_FALSE(Protocol().Hold(1));
    EXPECT_EQ(Protocol().GetLastResultCode(), kAckNotReceived);
    EXPECT_EQ(CKRMSProtocol::ErrorText(Protocol().GetLastResultCode()), "ACK not recieved");
    EXPECT_TRUE(m_sink.Has("<- NAK"));
    // The unit's NAK is not answered; the command line stands twice.
    std::uint8_t hold[6] { 0x02, 0x01, 0x06, 0x38, 0, 0 };
    FinishFrame(hold, 6, 1);
    EXPECT_EQ(m_sink.Count("-> " + HexText(hold, 6)), 2);
    EXPECT_FALSE(NakSent());
    ExpectRecovered();
}

TEST_F(SimFault, BusyShowsInThePollAndEnds)
{
    ASSERT_EQ(Control("busy 0.3").rfind("ok", 0), 0u);
    EXPECT_TRUE(Protocol().Poll(1));
    EXPECT_EQ(Protocol().GetLastPoll().state, 0x1B);
    EXPECT_TRUE(m_sink.Has("<- BUSY"));
    EXPECT_TRUE(Eventually([this] { return Protocol().Poll(1) && Protocol().GetLastPoll().state != 0x1B; }, 3s));
}

TEST_F(SimFault, FailCodeJamAndBoxRemoveShowTheirStates)
{
    struct Case {
        const char* control;
        std::uint8_t state;
        const char* line;
        const char* cure;
    };
    const Case cases[] = {
        { "fail 41", 0x41, "<- BOX FULL", "reset" },
        { "jam", 0x43, "<- JAM IN ACCEPTOR", "reset" },
        { "jam stacker", 0x44, "<- JAM IN STACKER", "reset" },
        { "box-remove", 0x42, "<- BOX REMOVED", "box-insert" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        ASSERT_EQ(Control(c.control).rfind("ok", 0), 0u) << Control("state");
        m_sink.Clear();
        EXPECT_TRUE(Protocol().Poll(1));
        EXPECT_EQ(Protocol().GetLastPoll().state, c.state);
        EXPECT_TRUE(m_sink.Has(c.line));
        if (std::string(c.cure) == "reset")
            EXPECT_TRUE(Protocol().Reset(1));
        else
            EXPECT_EQ(Control(c.cure).rfind("ok", 0), 0u);
        EXPECT_TRUE(Eventually([this] { return m_device->InitRecycler(0, 18, 0x60000000, 1, 0) == 0; }, 10s));
    }
}

TEST_F(SimFault, SilentUnitTimesOutWithoutNakAndAnswersAgain)
{
    ASSERT_EQ(Control("silent on").rfind("ok", 0), 0u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Protocol().Poll(1));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(Protocol().GetLastResultCode(), kTimeout);
    EXPECT_TRUE(m_sink.Has("<- Timeout"));
    EXPECT_FALSE(NakSent());
    // 11 ms a byte for the six header bytes plus the response time-out.
    EXPECT_GE(took, std::chrono::milliseconds(66 + kResponseTimeout - 5));
    EXPECT_LT(took, 3s);
    ASSERT_EQ(Control("silent off").rfind("ok", 0), 0u);
    ExpectRecovered();
}
