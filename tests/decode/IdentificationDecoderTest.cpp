#include "DecodeTestSupport.h"
#include "decode/Decoders.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace orvex;
using namespace orvex::test;

namespace {

using Lines = std::vector<std::string>;

// Data from offset 3 of `size` bytes with texts placed at offsets.
Bytes Data(std::size_t size)
{
    return Bytes(size, 0);
}

void Put(Bytes& data, int offset, std::string_view text)
{
    for (std::size_t index = 0; index < text.size(); ++index)
        data.at(static_cast<std::size_t>(offset - 3) + index) = static_cast<std::uint8_t>(text[index]);
}

} // namespace

TEST(Identification, ShortFormHasThreeLines)
{
    Bytes data = Data(0x27 - 5);
    Put(data, 3, "SM-RU1353");
    Put(data, 18, "12345678");
    data[30 - 3 + 5] = 0x01;
    data[30 - 3 + 6] = 0x80;
    EXPECT_EQ(DecodeReply(DecodeIdentification, ReplyRecord(3, data)),
        (Lines { "<-  Part Number :SM-RU1353", "<-  SN: 12345678", "<-  Asset: 180" }));
}

TEST(Identification, AssetOfAllOnesIsFourteenDigits)
{
    Bytes data = Data(0x27 - 5);
    for (int offset = 30; offset < 37; ++offset)
        data[static_cast<std::size_t>(offset - 3)] = 0xFF;
    EXPECT_EQ(DecodeReply(DecodeIdentification, ReplyRecord(3, data)).back(), "<-  Asset: FFFFFFFFFFFFFF");
}

TEST(Identification, PartNumberWithoutZeroIsShownWhole)
{
    Bytes data = Data(0x27 - 5);
    Put(data, 3, "ABCDEFGHIJKLMNOPQRS"); // runs on into the serial number
    EXPECT_EQ(DecodeReply(DecodeIdentification, ReplyRecord(3, data))[0], "<-  Part Number :ABCDEFGHIJKLMNO");
}

TEST(Identification, LongFormHasThirteenLines)
{
    Bytes data = Data(116 - 5);
    Put(data, 3, "CY");
    Put(data, 44, "SOFT-1.2.3-0123456789AB");
    Put(data, 106, "CS1.0");
    Lines lines = DecodeReply(DecodeIdentification, ReplyRecord(1, data));
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[3], "<-  BV Boot :");
    EXPECT_EQ(lines[4], "<-  BV Soft : SOFT-1.2.3-012345678");
    EXPECT_EQ(lines[5], "<-  CPU Boot: 9AB");
    EXPECT_EQ(lines[9], "<-  Cassete 1 Boot: ");
    EXPECT_EQ(lines[12], "<-  Cassete Soft: CS1.0");
}

TEST(Identification, LongFormAtItsShortestCutsTheLastFieldAtTheCheckCode)
{
    Bytes data = Data(0x6D - 5);
    data.back() = 'C';
    Lines lines = DecodeReply(DecodeIdentification, ReplyRecord(1, data));
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[12], "<-  Cassete Soft: C");
}

TEST(Identification, ShortRepliesAndFailures)
{
    EXPECT_EQ(DecodeReply(DecodeIdentification, ReplyRecord(3, { 0x30 })), Lines { "<- Invalid command" });
    EXPECT_EQ(DecodeReply(DecodeIdentification, ReplyRecord(3, { 0x00 })), Lines { "<- ACK" });
    EXPECT_EQ(DecodeReply(DecodeIdentification, FailedRecord("CRC error")), Lines { "<- CRC error" });
    // Too short for its fields: empty texts and a zero asset.
    EXPECT_EQ(DecodeReply(DecodeIdentification, ReplyRecord(3, { 0x41, 0x42 })),
        (Lines { "<-  Part Number :AB", "<-  SN: ", "<-  Asset: 0" }));
}

TEST(ModuleIdentification, FiveSerialNumbers)
{
    Bytes data = Data(60);
    Put(data, 3, "CPU000000001");
    Put(data, 51, "CAS3");
    Lines lines = DecodeReply(DecodeModuleIdentification, ReplyRecord(1, data));
    EXPECT_EQ(lines, (Lines { "<-  CPU SN: CPU000000001", "<-  Dispenser SN: ", "<-  Cassete 1 SN: ", "<-  Cassete 2 SN: ",
                         "<-  Cassete 3 SN: CAS3" }));
}

TEST(ValidationSoftware, PartNumberAndCheckValue)
{
    Bytes data = Data(22);
    Put(data, 3, "BV-SOFT");
    data[21 - 3] = 0x12;
    data[22 - 3] = 0x80;
    data[23 - 3] = 0xFF;
    data[24 - 3] = 0x01;
    EXPECT_EQ(DecodeReply(DecodeValidationSoftwareIdentification, ReplyRecord(3, data)),
        (Lines { "<-  Part Number :BV-SOFT", "<-  CRC32: 1280FF01" }));
}

TEST(Crc32, ReadsTheReplyLine)
{
    EXPECT_EQ(DecodeReply(DecodeCrc32, ReplyRecord(3, { 0xDE, 0xAD, 0xBE, 0xEF })), Lines { "<- CRC32:    0xDEADBEEF" });
    EXPECT_EQ(DecodeReply(DecodeCrc32, ReplyRecord(3, { 0x30 })), Lines { "<- Invalid command" });
    EXPECT_EQ(DecodeReply(DecodeCrc32, ReplyRecord(3, { 0x00 })), Lines { "<- CRC32:    0x00000000" });
}

TEST(Status, RoutedBillsOnlyForTheCyclorUnit)
{
    Bytes data { 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03 };
    EXPECT_EQ(DecodeReply(DecodeStatus, ReplyRecord(1, data), RussianContext(1)),
        Lines { "<- Enabled bills: 0000FF, Security levels: 000000, Routed bills: 000003" });
    EXPECT_EQ(DecodeReply(DecodeStatus, ReplyRecord(3, data), RussianContext(3)),
        Lines { "<- Enabled bills: 0000FF, Security levels: 000000" });
}

TEST(TimeReply, ValidDateAndRollover)
{
    EXPECT_EQ(DecodeReply(DecodeTime, ReplyRecord(1, { 0x30, 0x15, 0x09, 0x02, 0x24, 0x12, 0x26 })),
        Lines { "<- Time: 12/24/26 09:15:30" });
    EXPECT_EQ(DecodeReply(DecodeTime, ReplyRecord(1, { 0x30, 0x15, 0x09, 0x02, 0x24, 0x13, 0x26 })),
        Lines { "<- Invalid data" });
    EXPECT_EQ(DecodeReply(DecodeTime, ReplyRecord(1, { 0x00, 0x00, 0x00, 0x02, 0x31, 0x02, 0x26 })),
        Lines { "<- Invalid data" });
    EXPECT_EQ(DecodeReply(DecodeTime, ReplyRecord(1, { 0x00, 0x00, 0x00, 0x02, 0x29, 0x02, 0x24 })),
        Lines { "<- Time: 02/29/24 00:00:00" });
    EXPECT_EQ(DecodeReply(DecodeTime, ReplyRecord(1, { 0x00 })), Lines { "<- ACK" });
    EXPECT_EQ(DecodeReply(DecodeTime, ReplyRecord(1, { 0x30 })), Lines { "<- Invalid command" });
    EXPECT_EQ(DecodeReply(DecodeTime, ReplyRecord(1, { 0x30, 0x15 })), Lines { "<- Invalid data" });
}

TEST(Barcode, DataBytesAsCharacters)
{
    EXPECT_EQ(DecodeReply(DecodeBarcode, ReplyRecord(3, { 0x31, 0x32, 0x33 })), Lines { "<- Barcode: 123" });
    Bytes long_(40, '7');
    EXPECT_EQ(DecodeReply(DecodeBarcode, ReplyRecord(3, long_)).back(), "<- Barcode: " + std::string(40, '7'));
}

TEST(UserData, LinesSplitAtLineFeeds)
{
    EXPECT_EQ(DecodeReply(DecodeUserData, ReplyRecord(3, { 'A', 'B', 0x0D, 0x0A, 'C', 'D', 0x55 })),
        (Lines { "AB", "CD", "" }));
    EXPECT_EQ(DecodeReply(DecodeUserData, ReplyRecord(3, { 'A', 0x00, 'Z', 0x0A, 'C', 0x55 })), (Lines { "A", "C", "" }));
    EXPECT_EQ(DecodeReply(DecodeUserData, ReplyRecord(3, { 0x00 })), Lines { "<- ACK" });
}

TEST(UserData, LongFrameTextStartsAfterItsLength)
{
    Bytes data(300, 'x');
    data[100] = 0x0A;
    Lines lines = DecodeReply(DecodeUserData, ReplyRecord(3, data));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], std::string(100, 'x'));
    EXPECT_EQ(lines[1], std::string(198, 'x'));
}
