#include "DecodeTestSupport.h"
#include "decode/Decoders.h"

#include <gtest/gtest.h>

using namespace orvex;
using namespace orvex::test;

namespace {

using Lines = std::vector<std::string>;

} // namespace

TEST(BillTable, ValuesFromDigitAndExponent)
{
    Lines lines = DecodeReply(DecodeBillTable,
        ReplyRecord(3, { 0x01, 'R', 'U', 'S', 0x03, 0x05, 'U', 'S', 'A', 0x82, 0x00, 0, 0, 0, 0x00 }));
    EXPECT_EQ(lines, (Lines { "<-  Bill Type:  0:       1000  RUS", "<-  Bill Type:  1:       0.05  USA",
                         "<-  Bill Type:  2:       0  ", "" }));
}

TEST(BillTable, AFullReplyHas24RecordsAndNoMore)
{
    Bytes data;
    for (int record = 0; record < 30; ++record) {
        Bytes entry { 0x05, 'E', 'U', 'R', 0x01 };
        data.insert(data.end(), entry.begin(), entry.end());
    }
    Lines lines = DecodeReply(DecodeBillTable, ReplyRecord(3, Bytes(data.begin(), data.begin() + 120)));
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[23], "<-  Bill Type: 23:       50  EUR");
    EXPECT_EQ(DecodeReply(DecodeBillTable, ReplyRecord(3, data)).size(), 25u);
}

TEST(BillTable, ShortRepliesAndFailures)
{
    EXPECT_EQ(DecodeReply(DecodeBillTable, ReplyRecord(3, { 0x00 })), Lines { "<- ACK" });
    EXPECT_EQ(DecodeReply(DecodeBillTable, ReplyRecord(3, { 0x30 })), Lines { "<- Invalid command" });
    EXPECT_EQ(DecodeReply(DecodeBillTable, FailedRecord("Timeout")), Lines { "<- Timeout" });
}

TEST(CassetteStatus, StatusTexts)
{
    Lines lines = DecodeReply(DecodeCassetteStatus, ReplyRecord(1, { 0x81, 0x0A, 0xC3, 0x20, 0x98, 0x05, 0x00, 0x00, 0x9F, 0x00 }));
    EXPECT_EQ(lines, (Lines { "<- Cassette:  1,  Bill Type:  1,  Number:  10,  Status:OK",
                         "<- Cassette:  2,  Bill Type:  3,  Number:  32,  Status:FULL",
                         "<- Cassette:  3,  Bill Type: 24,  Number:   5,  Status:ESCR: OK",
                         "<- Cassette:  4,  Bill Type:  0,  Number:   0,  Status:NU",
                         "<- Cassette:  5,  Bill Type: 31,  Number:   0,  Status:NA", "" }));
}

TEST(CassetteStatus, AtMostSixteenCassettes)
{
    Lines lines = DecodeReply(DecodeCassetteStatus, ReplyRecord(1, Bytes(40, 0x81)));
    EXPECT_EQ(lines.size(), 17u);
    EXPECT_EQ(DecodeReply(DecodeCassetteStatus, ReplyRecord(1, { 0x00 })), Lines { "<- ACK" });
}

TEST(ExtendedCassetteStatus, BillTypesInLinesOfFour)
{
    Lines lines = DecodeReply(DecodeExtendedCassetteStatus, ReplyRecord(1, { 0x05, 1, 2, 3, 4, 5 }));
    EXPECT_EQ(lines, (Lines { "<-  Number of bills: 5", "<- Bill type 1 Bill type 2 Bill type 3 Bill type 4 ",
                         "<- Bill type 5 ", "" }));
    EXPECT_EQ(DecodeReply(DecodeExtendedCassetteStatus, ReplyRecord(1, { 0x00 })),
        (Lines { "<-  Number of bills: 0", "" }));
}

TEST(ExtendedCassetteStatus, ACountTheDataCannotHoldShowsNothing)
{
    EXPECT_EQ(DecodeReply(DecodeExtendedCassetteStatus, ReplyRecord(1, { 0x03, 1, 2 })), Lines { "" });
    EXPECT_EQ(DecodeReply(DecodeExtendedCassetteStatus, ReplyRecord(1, { 0x01 })), Lines { "" });
    EXPECT_EQ(DecodeReply(DecodeExtendedCassetteStatus, ReplyRecord(1, { 0x30 })), Lines { "<- Invalid command" });
}

TEST(PowerRecovery, NoInterruption)
{
    EXPECT_EQ(DecodeReply(DecodePowerRecovery, ReplyRecord(1, { 0x00 })),
        (Lines { "<- ACK (No power interruptions detected)", "" }));
}

TEST(PowerRecovery, WhilePackingNamesEveryDestination)
{
    Lines lines = DecodeReply(DecodePowerRecovery, ReplyRecord(1, { 0x17, 0x02, 0x01, 0x23, 0x00, 0x19, 0x09 }), RussianContext(3));
    EXPECT_EQ(lines, (Lines { "<- POWER CUT WHILE PACKING was detected. Credit messages:",
                         "<- **************    10 RUS packed into cassette 1     **************",
                         "<- **************    1e+06 RUS packed into drop box     **************",
                         "<- **************    Bill type 25 packed into unknown location     **************", "" }));
}

TEST(PowerRecovery, WhileDispensing)
{
    EXPECT_EQ(DecodeReply(DecodePowerRecovery, ReplyRecord(1, { 0x3C })),
        (Lines { "<- POWER CUT WHILE DISPENSING was detected", "<-   Command: DISPENSE ", "<- Dispenser is empty", "" }));
    Lines lines = DecodeReply(DecodePowerRecovery, ReplyRecord(1, { 0x3C, 0x02, 0x03, 0x84, 0x05, 0x81, 0x01 }));
    EXPECT_EQ(lines, (Lines { "<- POWER CUT WHILE DISPENSING was detected", "<-   Command: DISPENSE ",
                         "<-   5 bills of 4 bill type", "<-   1 bills of 1 bill type", "<- Dispenser state:",
                         "<-   3 bills of 2 bill type", "" }));
}

TEST(PowerRecovery, WhileUnloading)
{
    Lines lines = DecodeReply(DecodePowerRecovery, ReplyRecord(1, { 0x3D, 0x02, 0x0A, 0x83, 0x07 }));
    EXPECT_EQ(lines, (Lines { "<- POWER CUT WHILE UNLOADING was detected", "<-   Command: UNLOAD 10 bills from Cassette 2",
                         "<-   Actually unloaded:", "<-   7 bills of bill type 3", "" }));
}

TEST(PowerRecovery, OtherCodesAndFailures)
{
    EXPECT_EQ(DecodeReply(DecodePowerRecovery, ReplyRecord(1, { 0x55 })), Lines { "" });
    EXPECT_EQ(DecodeReply(DecodePowerRecovery, ReplyRecord(1, { 0x30 })), Lines { "<- Invalid command" });
    EXPECT_EQ(DecodeReply(DecodePowerRecovery, FailedRecord("Synchronization error")), Lines { "<- Synchronization error" });
}
