#include "DecodeTestSupport.h"
#include "decode/CExchangeLog.h"
#include "link/CPortTable.h"
#include "protocol/CKRMSProtocol.h"

#include <gtest/gtest.h>

using namespace orvex;
using namespace orvex::test;

namespace {

struct EngineLog : ::testing::Test {
    void SetUp() override
    {
        protocol.SetIntercommandInterval(0);
        protocol.SetObserver(&log);
        ASSERT_NE(protocol.OpenPort(0, 100), 0) << peer.SlavePath();
    }
    void TearDown() override { protocol.SetObserver(nullptr); }

    PtyPeer peer;
    CKRMSProtocol protocol { CPortTable({ peer.SlavePath() }) };
    CStoringSink sink;
    CExchangeLog log { &protocol, sink, [] { return RussianContext(); } };
};

} // namespace

TEST_F(EngineLog, PollThroughTheEngineIsDecoded)
{
    peer.SetResponder(PtyPeer::Always(3, { 0x14 }));
    protocol.Poll(3);
    std::vector<std::string> lines = sink.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("->POLL (", 0), 0u);
    EXPECT_EQ(lines[1], "<- IDLING");
    EXPECT_EQ(lines[2], std::string(132, '-'));
}

TEST_F(EngineLog, SilentPeerShowsTheTimeout)
{
    peer.SetResponder([](const Bytes&) { return PeerReply {}; });
    protocol.Identification(3);
    std::vector<std::string> lines = sink.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "<- Timeout");
}

TEST_F(EngineLog, RawFramesShowTheEnginesRecord)
{
    log.SetRawFrames(1);
    peer.SetResponder(PtyPeer::Always(3, { 0x00 }));
    protocol.Pack(3);
    std::vector<std::string> lines = sink.Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "<- ACK");
    EXPECT_EQ(lines[2].rfind("-> 02 03 06 35 ", 0), 0u);
    EXPECT_EQ(lines[3].rfind("<- 02 03 06 00 ", 0), 0u);
}
