#include "ProtocolFixture.h"

#include "link/CheckCode.h"

#include <future>
#include <termios.h>
#include <thread>

using namespace orvex;
using namespace orvex::test;

namespace {

const Bytes kPollTo3 { 0x02, 0x03, 0x06, 0x33, 0xDA, 0x81 };
const Bytes kAckTo3 { 0x02, 0x03, 0x06, 0x00, 0xC2, 0x82 };
const Bytes kNakTo3 { 0x02, 0x03, 0x06, 0xFF, 0xBA, 0x8D };

CCommand PollFrame()
{
    const std::uint8_t frame[6] { 0x02, 0x00, 0x06, 0x33, 0x00, 0x00 };
    return CCommand(frame, 0, 6);
}

std::string Line(const char* prefix, const Bytes& bytes)
{
    return prefix + HexText(bytes.data(), static_cast<int>(bytes.size()));
}

std::chrono::milliseconds Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

// Runs one exchange and copies the record while this thread holds the lock.
struct ExchangeResult {
    CCommand reply;
    std::vector<std::string> record;
};

ExchangeResult RunExchange(CKRMSProtocol& protocol, const CCommand& command, int address)
{
    ExchangeResult result { protocol.Exchange(command, address), {} };
    result.record = protocol.GetExchangeRecord();
    protocol.CommandDone("POLL");
    return result;
}

} // namespace

// ---- Results and their texts -------------------------------------------

TEST(ErrorText, EveryCodeOfTheTable)
{
    EXPECT_EQ(CKRMSProtocol::ErrorText(0), "OK");
    EXPECT_EQ(CKRMSProtocol::ErrorText(-1), "Timeout");
    EXPECT_EQ(CKRMSProtocol::ErrorText(-2), "Synchronization error");
    EXPECT_EQ(CKRMSProtocol::ErrorText(-3), "Data error");
    EXPECT_EQ(CKRMSProtocol::ErrorText(-4), "CRC error");
    EXPECT_EQ(CKRMSProtocol::ErrorText(-5), "ACK not recieved");
    EXPECT_EQ(CKRMSProtocol::ErrorText(-6), "Invalid command");
    EXPECT_EQ(CKRMSProtocol::ErrorText(-7), "Execution Error");
    EXPECT_EQ(CKRMSProtocol::ErrorText(5), "Error code 5");
    EXPECT_EQ(CKRMSProtocol::ErrorText(-8), "Error code FFFFFFF8");
}

TEST(CheckCodeOperations, EngineForwardsToTheFrameCode)
{
    EXPECT_EQ(CKRMSProtocol::ComputeCheckCode(kPollTo3.data()), 0x81DA);
    EXPECT_EQ(CKRMSProtocol::UpdateCheckCode(0x02, 0), CheckCodeUpdate(0x02, 0));
}

// ---- Failures on the line ----------------------------------------------

TEST_F(ProtocolTest, SilentDeviceTimesOutWithoutNakOrPause)
{
    protocol.SetIntercommandInterval(2000);
    auto start = std::chrono::steady_clock::now();
    auto result = RunExchange(protocol, PollFrame(), 3);
    EXPECT_LT(Since(start), 1500ms); // 166 ms of reading, and no pause
    EXPECT_EQ(result.reply.GetStatus(), -1);
    EXPECT_EQ(result.record, (std::vector<std::string> { Line("-> ", kPollTo3), "<- Timeout" }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(peer.Frames(), (std::vector<Bytes> { kPollTo3 }));
}

TEST_F(ProtocolTest, WrongSyncByteIsAnsweredWithNak)
{
    AnswerRaw({ 0x03, 0x03, 0x06, 0x33, 0xDA, 0x81 });
    auto result = RunExchange(protocol, PollFrame(), 3);
    EXPECT_EQ(result.reply.GetStatus(), -2);
    EXPECT_EQ(result.record, (std::vector<std::string> { Line("-> ", kPollTo3), "<- Synchronization error", Line("-> ", kNakTo3) }));
    ASSERT_TRUE(peer.WaitForFrames(2, 1s));
    EXPECT_EQ(peer.Frames()[1], kNakTo3);
}

TEST_F(ProtocolTest, WrongCheckCodeIsAnsweredWithNak)
{
    AnswerRaw({ 0x02, 0x03, 0x06, 0x33, 0xDA, 0x82 });
    auto result = RunExchange(protocol, PollFrame(), 3);
    EXPECT_EQ(result.reply.GetStatus(), -4);
    EXPECT_EQ(result.reply.GetBytes(), nullptr);
    EXPECT_EQ(result.record, (std::vector<std::string> { Line("-> ", kPollTo3), "<- CRC error", Line("-> ", kNakTo3) }));
    ASSERT_TRUE(peer.WaitForFrames(2, 1s));
    EXPECT_EQ(peer.Frames()[1], kNakTo3);
}

TEST_F(ProtocolTest, LengthFieldTooShortForAFrameIsDataError)
{
    for (const Bytes& header : { Bytes { 0x02, 0x03, 0x05, 0x33, 0x00, 0x00 }, Bytes { 0x02, 0x03, 0x00, 0x00, 0x06, 0x00 },
             Bytes { 0x02, 0x03, 0x01, 0x00, 0x00, 0x00 } }) {
        AnswerRaw(header);
        auto result = RunExchange(protocol, PollFrame(), 3);
        EXPECT_EQ(result.reply.GetStatus(), -3) << HexText(header.data(), 6);
        ASSERT_EQ(result.record.size(), 3u);
        EXPECT_EQ(result.record[1], "<- Data error");
        EXPECT_EQ(result.record[2], Line("-> ", kNakTo3));
    }
}

TEST_F(ProtocolTest, BodyThatStopsShortIsDataError)
{
    Bytes frame = MakeFrame(3, Bytes(25, 0x11));
    frame.resize(10);
    AnswerRaw(frame);
    auto result = RunExchange(protocol, PollFrame(), 3);
    EXPECT_EQ(result.reply.GetStatus(), -3);
    EXPECT_EQ(result.record, (std::vector<std::string> { Line("-> ", kPollTo3), "<- Data error", Line("-> ", kNakTo3) }));
}

TEST_F(ProtocolTest, HangUpMidReplyFailsAtOnce)
{
    ASSERT_NE(protocol.OpenPort(0, 5000), 0);
    peer.SetResponder([](const Bytes&) { return PeerReply { Bytes { 0x02, 0x03, 0x1E, 0x01, 0x02, 0x03, 0x04 }, 0ms, true }; });
    auto start = std::chrono::steady_clock::now();
    auto result = RunExchange(protocol, PollFrame(), 3);
    EXPECT_LT(Since(start), 2s); // waiting out the time-out takes over five
    EXPECT_NE(result.reply.GetStatus(), 0);
}

TEST_F(ProtocolTest, ReplyFromAnotherAddressIsNotJudgedHere)
{
    Answer(5, { 0x14 });
    auto result = RunExchange(protocol, PollFrame(), 3);
    EXPECT_EQ(result.reply.GetStatus(), 0);
    EXPECT_EQ(result.reply.GetBytes()[1], 5);
}

// ---- Replies and the record --------------------------------------------

TEST_F(ProtocolTest, DeviceAckEndsTheExchangeAtOnce)
{
    protocol.SetIntercommandInterval(2000);
    Answer(3, { 0x00 });
    auto start = std::chrono::steady_clock::now();
    auto result = RunExchange(protocol, PollFrame(), 3);
    EXPECT_LT(Since(start), 1500ms);
    EXPECT_EQ(result.reply.GetStatus(), 0);
    EXPECT_EQ(result.record, (std::vector<std::string> { Line("-> ", kPollTo3), Line("<- ", kAckTo3) }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(peer.Frames().size(), 1u); // no ACK back
}

TEST_F(ProtocolTest, DeviceNakRecordsTheCommandAgainWithoutResending)
{
    Answer(3, { 0xFF });
    auto result = RunExchange(protocol, PollFrame(), 3);
    EXPECT_EQ(result.reply.GetStatus(), 0);
    EXPECT_EQ(result.record, (std::vector<std::string> { Line("-> ", kPollTo3), Line("<- ", kNakTo3), Line("-> ", kPollTo3) }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(peer.Frames().size(), 1u);
}

TEST_F(ProtocolTest, DataReplyIsAcknowledgedAndPaused)
{
    protocol.SetIntercommandInterval(150);
    Answer(3, { 0x14 });
    auto start = std::chrono::steady_clock::now();
    auto result = RunExchange(protocol, PollFrame(), 3);
    EXPECT_GE(Since(start), 150ms);
    EXPECT_EQ(result.reply.GetStatus(), 0);
    Bytes reply = MakeFrame(3, { 0x14 });
    EXPECT_EQ(result.record, (std::vector<std::string> { Line("-> ", kPollTo3), Line("<- ", reply), Line("-> ", kAckTo3) }));
    ASSERT_TRUE(peer.WaitForFrames(2, 1s));
    EXPECT_EQ(peer.Frames()[1], kAckTo3);
}

// A long pause ends once the lent stop flag is set: stopping polling or
// closing the window does not sit it out.
TEST_F(ProtocolTest, TheStopFlagEndsALongPause)
{
    protocol.SetIntercommandInterval(600000);
    std::atomic<std::uint8_t> stop { 0 };
    protocol.SetStopFlag(&stop);
    Answer(3, { 0x14 });
    auto exchange = std::async(std::launch::async, [&] { return protocol.Exchange(PollFrame(), 3).GetStatus(); });
    ASSERT_TRUE(peer.WaitForFrames(2, 5s)) << "the ACK after the reply";
    EXPECT_EQ(exchange.wait_for(100ms), std::future_status::timeout) << "pausing";
    stop.store(1);
    ASSERT_EQ(exchange.wait_for(60s), std::future_status::ready);
    EXPECT_EQ(exchange.get(), 0);
    protocol.SetStopFlag(nullptr);
}

TEST_F(ProtocolTest, InvalidCommandReplyIsAcknowledgedToo)
{
    Answer(3, { 0x30 });
    auto result = RunExchange(protocol, PollFrame(), 3);
    ASSERT_EQ(result.record.size(), 3u);
    EXPECT_EQ(result.record[2], Line("-> ", kAckTo3));
}

TEST_F(ProtocolTest, ThirtyByteReplyTakesTwoRecordLines)
{
    Bytes reply = MakeFrame(3, Bytes(25, 0x41));
    ASSERT_EQ(reply.size(), 30u);
    AnswerRaw(reply);
    auto result = RunExchange(protocol, PollFrame(), 3);
    ASSERT_EQ(result.record.size(), 4u);
    std::string hex = HexText(reply.data(), 30);
    EXPECT_EQ(result.record[1], "<- " + hex.substr(0, 60));
    EXPECT_EQ(result.record[2], "<- " + hex.substr(60));
    EXPECT_EQ(result.record[2].size(), 33u);
}

TEST_F(ProtocolTest, LongFrameOfThreeHundredBytes)
{
    Bytes reply = MakeFrame(3, Bytes(293, 0x5A));
    ASSERT_EQ(reply.size(), 300u);
    ASSERT_EQ(reply[2], 0);
    AnswerRaw(reply);
    auto result = RunExchange(protocol, PollFrame(), 3);
    ASSERT_EQ(result.reply.GetStatus(), 0);
    EXPECT_EQ(result.reply.GetLength(), 300);
    EXPECT_EQ(Bytes(result.reply.GetBytes(), result.reply.GetBytes() + 300), reply);
    EXPECT_EQ(result.record.size(), 1u + 15u + 1u); // 20 bytes a line
}

TEST_F(ProtocolTest, ReplyBytesAreKeptInTheReturnedFrame)
{
    Answer(3, { 0x14, 0x00 });
    auto result = RunExchange(protocol, PollFrame(), 3);
    EXPECT_EQ(result.reply.HexText(), HexText(MakeFrame(3, { 0x14, 0x00 }).data(), 7));
}

// ---- Port ---------------------------------------------------------------

TEST_F(ProtocolTest, RefusedPortIndexes)
{
    EXPECT_EQ(protocol.OpenPort(-1, 100), 0);
    EXPECT_EQ(protocol.OpenPort(16, 100), 0);
    EXPECT_EQ(protocol.OpenPort(1, 100), 0); // a slot without a path
    EXPECT_EQ(protocol.GetPortError(1), ENOENT);
    EXPECT_EQ(protocol.GetPortError(0), 0);
    Answer(3, { 0x14 });
    EXPECT_TRUE(protocol.Poll(3)); // the open port was left alone
}

TEST_F(ProtocolTest, ReopeningAt19200)
{
    protocol.SetSerialMode("19200,n,8,1");
    ASSERT_NE(protocol.OpenPort(0, 150), 0);
    EXPECT_EQ(protocol.GetResponseTimeout(), 150);
    termios settings {};
    ASSERT_EQ(tcgetattr(protocol.GetPort()->GetHandle(), &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), B19200);
    Answer(3, { 0x14 });
    EXPECT_TRUE(protocol.Poll(3));
    protocol.SetSerialMode("9600,x,8,1");
    EXPECT_EQ(protocol.OpenPort(0, 150), 0);
}

TEST_F(ProtocolTest, LineResetPulseLeavesTheLineUsable)
{
    auto start = std::chrono::steady_clock::now();
    protocol.LineResetPulse();
    EXPECT_GE(Since(start), 100ms);
    Answer(3, { 0x14 });
    EXPECT_TRUE(protocol.Poll(3));
}

// ---- Lock ---------------------------------------------------------------

TEST_F(ProtocolTest, SecondThreadGivesUpAfterOneSecond)
{
    Answer(3, { 0x14 });
    CCommand first = protocol.Exchange(PollFrame(), 3); // the lock stays taken
    ASSERT_EQ(first.GetStatus(), 0);
    auto record = protocol.GetExchangeRecord();
    ASSERT_TRUE(peer.WaitForFrames(2, 1s));

    int secondStatus = 0;
    std::vector<std::string> secondRecord { "untouched" };
    std::chrono::milliseconds waited {};
    std::thread second([&] {
        auto start = std::chrono::steady_clock::now();
        secondStatus = protocol.Exchange(PollFrame(), 3).GetStatus();
        waited = Since(start);
        secondRecord = protocol.GetExchangeRecord();
        protocol.CommandDone("POLL"); // must not free the first thread's lock
    });
    second.join();
    EXPECT_EQ(secondStatus, -1);
    EXPECT_GE(waited, 950ms);
    EXPECT_LT(waited, 3s);
    EXPECT_TRUE(secondRecord.empty());
    EXPECT_EQ(peer.Frames().size(), 2u); // nothing written for the second
    // The holder's record is intact, and still only the holder sees it.
    EXPECT_EQ(protocol.GetExchangeRecord(), record);

    std::thread third([&] { secondStatus = protocol.Exchange(PollFrame(), 3).GetStatus(); protocol.CommandDone("POLL"); });
    third.join();
    EXPECT_EQ(secondStatus, -1); // still held by this thread

    protocol.CommandDone("POLL");
    std::thread fourth([&] { secondStatus = protocol.Exchange(PollFrame(), 3).GetStatus(); protocol.CommandDone("POLL"); });
    fourth.join();
    EXPECT_EQ(secondStatus, 0);
}

TEST_F(ProtocolTest, ObserverSeesTheRecordAndTheLockIsFreedAfterwards)
{
    Answer(3, { 0x14 });
    ASSERT_TRUE(protocol.Poll(3));
    EXPECT_EQ(observer.Names(), (std::vector<std::string> { "POLL" }));
    EXPECT_EQ(observer.LastRecord().size(), 3u);
    EXPECT_TRUE(protocol.GetExchangeRecord().empty()); // no longer the holder
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(protocol.Poll(3));
    EXPECT_LT(Since(start), 900ms);
}

TEST_F(ProtocolTest, ReopeningWaitsForTheRunningExchange)
{
    Answer(3, { 0x14 });
    ASSERT_EQ(protocol.Exchange(PollFrame(), 3).GetStatus(), 0); // the lock stays taken
    int opened = 1;
    std::chrono::milliseconds waited {};
    std::thread other([&] {
        auto start = std::chrono::steady_clock::now();
        opened = protocol.OpenPort(0, kResponseTimeout);
        waited = Since(start);
    });
    other.join();
    EXPECT_EQ(opened, 0);
    EXPECT_GE(waited, 950ms);
    // The holder itself may re-open, and the port it had stays usable.
    EXPECT_NE(protocol.OpenPort(0, kResponseTimeout), 0);
    protocol.CommandDone("POLL");
    std::thread after([&] { opened = protocol.OpenPort(0, kResponseTimeout); });
    after.join();
    EXPECT_NE(opened, 0);
    EXPECT_TRUE(protocol.Poll(3));
}
