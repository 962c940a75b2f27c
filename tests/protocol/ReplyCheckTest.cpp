#include "ProtocolFixture.h"

using namespace orvex;
using namespace orvex::test;

// ---- ACK check ----------------------------------------------------------

TEST_F(ProtocolTest, AckCheckSucceedsOnAck)
{
    Answer(3, { 0x00 });
    EXPECT_TRUE(protocol.Pack(3));
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
}

TEST_F(ProtocolTest, PackAnsweredInvalidCommandFailsWithMinusSix)
{
    Answer(3, { 0x30 });
    EXPECT_FALSE(protocol.Pack(3));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
}

TEST_F(ProtocolTest, PackAnsweredNakFailsWithMinusFive)
{
    Answer(3, { 0xFF });
    EXPECT_FALSE(protocol.Pack(3));
    EXPECT_EQ(protocol.GetLastResultCode(), -5);
    Answer(3, { 0x01, 0x02 });
    EXPECT_FALSE(protocol.Hold(3));
    EXPECT_EQ(protocol.GetLastResultCode(), -5);
}

TEST_F(ProtocolTest, VendCancelRefusalIsExecutionError)
{
    Answer(4, { 0x07 });
    std::uint8_t replyByte = 0;
    EXPECT_FALSE(protocol.VendCancel(replyByte));
    EXPECT_EQ(protocol.GetLastResultCode(), -7);
    EXPECT_EQ(replyByte, 0x07);
    Answer(4, { 0x30 });
    EXPECT_FALSE(protocol.VendCancel(replyByte));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
    Answer(4, { 0x00 });
    EXPECT_TRUE(protocol.VendCancel(replyByte));
    EXPECT_EQ(replyByte, 0x00);
}

TEST_F(ProtocolTest, TransportFailureBecomesTheLastResultCode)
{
    AnswerRaw({ 0x03, 0x03, 0x06, 0x00, 0xC2, 0x82 });
    EXPECT_FALSE(protocol.Return(3));
    EXPECT_EQ(protocol.GetLastResultCode(), -2);
}

// ---- Status, poll, identification --------------------------------------

TEST_F(ProtocolTest, StatusRequestFillsTheThreeWords)
{
    Answer(3, { 0x12, 0x34, 0x56, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF });
    ASSERT_TRUE(protocol.StatusRequest(3));
    EXPECT_EQ(protocol.GetStatusWords(), (std::array<std::uint32_t, 3> { 0x123456, 0x000001, 0xFFFFFF }));
}

TEST_F(ProtocolTest, StatusRequestInvalidCommandZeroesTheWords)
{
    Answer(3, { 0x12, 0x34, 0x56, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF });
    ASSERT_TRUE(protocol.StatusRequest(3));
    Answer(3, { 0x30 });
    EXPECT_FALSE(protocol.StatusRequest(3));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
    EXPECT_EQ(protocol.GetStatusWords(), (std::array<std::uint32_t, 3> {}));
}

TEST_F(ProtocolTest, ShortStatusReplyReadsMissingBytesAsZero)
{
    Answer(3, { 0x12, 0x34, 0x56, 0x78 });
    ASSERT_TRUE(protocol.StatusRequest(3));
    EXPECT_EQ(protocol.GetStatusWords(), (std::array<std::uint32_t, 3> { 0x123456, 0x780000, 0 }));
}

TEST_F(ProtocolTest, StatusWordsSurviveAFailedExchange)
{
    Answer(3, { 0x00, 0x00, 0x07, 0, 0, 0, 0, 0, 0 });
    ASSERT_TRUE(protocol.StatusRequest(3));
    AnswerRaw({ 0x02, 0x03, 0x06, 0x33, 0xDA, 0x82 });
    EXPECT_FALSE(protocol.StatusRequest(3));
    EXPECT_EQ(protocol.GetStatusWords()[0], 7u);
}

TEST_F(ProtocolTest, PollKeepsStateSubStateAndThirdByte)
{
    Answer(3, { 0x15, 0x02, 0x09 });
    ASSERT_TRUE(protocol.Poll(3));
    auto poll = protocol.GetLastPoll();
    EXPECT_EQ(poll.state, 0x15);
    EXPECT_EQ(poll.subState, 0x02);
    EXPECT_EQ(poll.third, 0x09);
}

TEST_F(ProtocolTest, FailedPollClearsTheLastPoll)
{
    Answer(3, { 0x15, 0x02, 0x09 });
    ASSERT_TRUE(protocol.Poll(3));
    AnswerRaw({ 0x02, 0x03, 0x06, 0x33, 0xDA, 0x82 });
    EXPECT_FALSE(protocol.Poll(3));
    auto poll = protocol.GetLastPoll();
    EXPECT_EQ(poll.state, 0);
    EXPECT_EQ(poll.subState, 0);
    EXPECT_EQ(poll.third, 0);
}

TEST_F(ProtocolTest, SixBytePollHasNoSubStateNotItsCheckCode)
{
    Answer(3, { 0x14 });
    ASSERT_TRUE(protocol.Poll(3));
    auto poll = protocol.GetLastPoll();
    EXPECT_EQ(poll.state, 0x14);
    EXPECT_EQ(poll.subState, 0);
    EXPECT_EQ(poll.third, 0);
}

TEST_F(ProtocolTest, PartNumberIsNotAvailableUntilAReply)
{
    EXPECT_EQ(protocol.GetPartNumber(), "N/A");
    Bytes data { 'S', 'M', '-', 'R', 'U', '1', '3', '5', '3', 0, 'x', 'x', 'x', 'x', 'x', '1', '2', '3' };
    Answer(3, data);
    ASSERT_TRUE(protocol.Identification(3));
    EXPECT_EQ(protocol.GetPartNumber(), "SM-RU1353");
}

TEST_F(ProtocolTest, PartNumberTakesAtMostFifteenCharacters)
{
    Bytes data(34, 'A');
    data[15] = 'B';
    Answer(3, data);
    ASSERT_TRUE(protocol.Identification(3));
    EXPECT_EQ(protocol.GetPartNumber(), std::string(15, 'A'));
}

TEST_F(ProtocolTest, ShortIdentificationReplyStopsAtItsData)
{
    Answer(3, { 'A', 'B', 'C' });
    ASSERT_TRUE(protocol.Identification(3));
    EXPECT_EQ(protocol.GetPartNumber(), "ABC");
}

TEST_F(ProtocolTest, IdentificationRefusedKeepsThePartNumber)
{
    Answer(3, { 0x30 });
    EXPECT_FALSE(protocol.Identification(3));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
    EXPECT_EQ(protocol.GetPartNumber(), "N/A");
}

TEST_F(ProtocolTest, ExtendedIdentificationNeedsTheFullReply)
{
    Bytes data(103, '7'); // L = 108
    Answer(1, data);
    EXPECT_FALSE(protocol.ExtendedIdentification(1));
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
    EXPECT_EQ(protocol.GetPartNumber(), "N/A");
    data.push_back('7'); // L = 109
    Answer(1, data);
    EXPECT_TRUE(protocol.ExtendedIdentification(1));
    EXPECT_EQ(protocol.GetPartNumber(), std::string(15, '7'));
}

TEST_F(ProtocolTest, ModuleAndSoftwareIdentificationNeedTheirLengths)
{
    Answer(3, Bytes(59, 1)); // L = 64
    EXPECT_FALSE(protocol.ModuleIdentification(3));
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
    Answer(3, Bytes(60, 1)); // L = 65
    EXPECT_TRUE(protocol.ModuleIdentification(3));
    Answer(3, Bytes(15, 1)); // L = 20
    EXPECT_FALSE(protocol.ValidationSoftwareIdentification(3));
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
    Answer(3, Bytes(16, 1)); // L = 21
    EXPECT_TRUE(protocol.ValidationSoftwareIdentification(3));
    Answer(3, { 0x30 });
    EXPECT_FALSE(protocol.ValidationSoftwareIdentification(3));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
}

TEST_F(ProtocolTest, DiagnosticIdentificationSucceedsOnAnyData)
{
    Answer(3, { 0x01, 0x02 });
    EXPECT_TRUE(protocol.DiagnosticIdentificationRequest(3));
    Answer(3, { 0x30 });
    EXPECT_FALSE(protocol.DiagnosticIdentificationRequest(3));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
}

// ---- Numbers and texts --------------------------------------------------

TEST_F(ProtocolTest, Crc32AndOptionsAreFourBytesHighFirst)
{
    Answer(3, { 0xDE, 0xAD, 0xBE, 0xEF });
    std::uint32_t value = 0;
    ASSERT_TRUE(protocol.Crc32(value, 3));
    EXPECT_EQ(value, 0xDEADBEEFu);
    ASSERT_TRUE(protocol.GetOptions(value, 3));
    EXPECT_EQ(value, 0xDEADBEEFu);
}

TEST_F(ProtocolTest, Crc32AndOptionsAreZeroOnFailureOrShortReply)
{
    std::uint32_t value = 5;
    Answer(3, { 0x30 });
    EXPECT_FALSE(protocol.Crc32(value, 3));
    EXPECT_EQ(value, 0u);
    value = 5;
    AnswerRaw({ 0x02, 0x03, 0x06, 0x33, 0xDA, 0x82 });
    EXPECT_FALSE(protocol.GetOptions(value, 3));
    EXPECT_EQ(value, 0u);
    Answer(3, { 0x12, 0x34 }); // L = 7: two bytes of four
    EXPECT_TRUE(protocol.GetOptions(value, 3));
    EXPECT_EQ(value, 0x12340000u);
}

TEST_F(ProtocolTest, BarcodeKeepsZeroBytes)
{
    Answer(3, { '1', '2', 0, '3' });
    std::string text = "old";
    ASSERT_TRUE(protocol.ExtractBarcode(text, 3));
    EXPECT_EQ(text, std::string("12\0" "3", 4));
    Answer(3, { 0x30 });
    EXPECT_FALSE(protocol.ExtractBarcode(text, 3));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
}
