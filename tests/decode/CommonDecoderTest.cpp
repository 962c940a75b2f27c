#include "DecodeTestSupport.h"
#include "decode/Decoders.h"
#include "decode/FrameBytes.h"
#include "link/WireVocabulary.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace orvex;
using namespace orvex::test;

TEST(CollectFrameBytes, ReadsTheWholeReplyAcrossLines)
{
    Bytes data(25, 0x41);
    Bytes reply = MakeFrame(3, data);
    std::vector<std::string> record = Exchange(MakeFrame(3, { 0x37 }), reply);
    ASSERT_EQ(record.size(), 4u); // command, two reply lines, ACK
    std::uint8_t buffer[1024];
    ASSERT_EQ(CollectFrameBytes(record, "<-", buffer, 1024), 30);
    EXPECT_EQ(Bytes(buffer, buffer + 30), reply);
}

TEST(CollectFrameBytes, TakesTheCommandForTheHostDirection)
{
    std::vector<std::string> record = ReplyRecord(3, { 0x14 });
    std::uint8_t buffer[16];
    ASSERT_EQ(CollectFrameBytes(record, "->", buffer, 16), 6);
    EXPECT_EQ(buffer[3], 0x37);
}

TEST(CollectFrameBytes, StopsAtCapacityAndAtAFailureText)
{
    std::vector<std::string> record = ReplyRecord(3, Bytes(40, 0x01));
    std::uint8_t buffer[8];
    EXPECT_EQ(CollectFrameBytes(record, "<-", buffer, 8), 8);
    EXPECT_EQ(CollectFrameBytes(FailedRecord("Data error"), "<-", buffer, 8), 0);
    EXPECT_EQ(CollectFrameBytes({}, "<-", buffer, 8), 0);
    std::vector<std::string> odd { "-> 02 03 06 33 ", "<- 02 03 0G 14 " };
    EXPECT_EQ(CollectFrameBytes(odd, "<-", buffer, 8), 2);
}

TEST(DecodeAcknowledgement, NamesTheFirstDataByte)
{
    EXPECT_EQ(DecodeReply(DecodeAcknowledgementReply, ReplyRecord(3, { 0x00 })).back(), "<- ACK");
    EXPECT_EQ(DecodeReply(DecodeAcknowledgementReply, ReplyRecord(3, { 0xFF })).back(), "<- NAK");
    EXPECT_EQ(DecodeReply(DecodeAcknowledgementReply, ReplyRecord(3, { 0x30 })).back(), "<- Invalid command");
    EXPECT_EQ(DecodeReply(DecodeAcknowledgementReply, ReplyRecord(3, { 0x1C })).back(), "<- Unknown code: 0x1C");
    EXPECT_EQ(DecodeReply(DecodeAcknowledgementReply, ReplyRecord(3, { 0x05 })).back(), "<- Unknown code: 0x5");
}

TEST(DecodeAcknowledgement, ShortOrFailedRepliesComeBackAsTheyAre)
{
    EXPECT_EQ(DecodeReply(DecodeAcknowledgementReply, FailedRecord("Timeout")).back(), "<- Timeout");
    std::vector<std::string> record { "-> 02 03 06 30 ", "<- 02 03 06 " };
    EXPECT_EQ(DecodeReply(DecodeAcknowledgementReply, record).back(), "<- 02 03 06 ");
}

TEST(CheckInvalidCommand, OnlyTheSixByteReplyWith30)
{
    EXPECT_EQ(CheckInvalidCommand(RecordLines("<- ", MakeFrame(3, { 0x30 }))[0]), "<- Invalid command");
    EXPECT_EQ(CheckInvalidCommand(RecordLines("<- ", MakeFrame(3, { 0x30, 0x01 }))[0]), "");
    EXPECT_EQ(CheckInvalidCommand(RecordLines("<- ", MakeFrame(3, { 0x00 }))[0]), "");
    EXPECT_EQ(CheckInvalidCommand("<- Timeout"), "<- Timeout");
    EXPECT_EQ(CheckInvalidCommand("<- 02 03 00 01 "), "<- 02 03 00 01 ");
}

TEST(FrameBytes, FieldsPastTheDataReadAsZeroOrEmpty)
{
    CFrameBytes bytes;
    bytes.Collect(ReplyRecord(3, { 0x41, 0x42 }), "<-", 1024);
    EXPECT_EQ(bytes.Count(), 7);
    EXPECT_EQ(bytes.DataEnd(), 5);
    EXPECT_EQ(bytes.Text(3, 15), "AB");
    EXPECT_EQ(bytes.Byte(5), 0); // a check-code byte is not data
    EXPECT_NE(bytes.Raw(5) + bytes.Raw(6), -1);
    EXPECT_EQ(bytes.Number(3, 4), 0u);
    EXPECT_EQ(bytes.Number(3, 2), 0x4142u);
    EXPECT_EQ(bytes.Text(100, 5), "");
    EXPECT_EQ(bytes.Byte(-1), 0);
}

TEST(DecoderTable, EveryLogNameHasItsDecoders)
{
    for (const DecoderEntry& entry : DecoderEntries()) {
        EXPECT_EQ(FindDecoders(entry.name), &entry) << entry.name << ": named twice";
        EXPECT_NE(entry.reply, nullptr) << entry.name;
    }
    // Every name the command set sends has its decoders, but for the
    // commands whose exchanges show only a header.
    const std::vector<std::string_view> undecoded { "POLL CR", "START SESSION", "END SESSION", "ENABLE CR",
        "CR IDENTIFICATION", "GET FUNDS", "VEND/REQUEST", "VEND/CANCEL", "SET CASSETTE FEEDING LEVEL",
        "GET CASSETTE FEEDING LEVEL" };
    for (const wire::CommandName& command : wire::CommandNames()) {
        const bool plain = std::find(undecoded.begin(), undecoded.end(), command.logName) != undecoded.end();
        EXPECT_EQ(FindDecoders(command.logName) == nullptr, plain) << command.logName;
    }
    EXPECT_EQ(FindDecoders("GET FUNDS"), nullptr);
    EXPECT_EQ(FindDecoders("poll"), nullptr);
    EXPECT_EQ(FindDecoders("POLL CR"), nullptr);
}
