#include "DecodeTestSupport.h"
#include "decode/Decoders.h"

#include <gtest/gtest.h>

using namespace orvex;
using namespace orvex::test;

namespace {

using Lines = std::vector<std::string>;

Lines Status(const Bytes& data)
{
    return DecodeReply(DecodeDiagnosticStatus, ReplyRecord(1, data));
}

} // namespace

TEST(DiagnosticStatus, ReadyBusyAndUnknown)
{
    EXPECT_EQ(Status({ 0x00 }), Lines { "<-    READY" });
    EXPECT_EQ(Status({ 0x1B }), Lines { "<-    BUSY" });
    EXPECT_EQ(Status({ 0x17 }), Lines { "<-     Unknown status (17)" });
    EXPECT_EQ(Status({ 0x30 }), Lines { "<- Invalid command" });
    EXPECT_EQ(DecodeReply(DecodeDiagnosticStatus, FailedRecord("Timeout")), Lines { "<- Timeout" });
}

TEST(DiagnosticStatus, SensorStateEndsWithAnEmptyLine)
{
    EXPECT_EQ(Status({ 0x10, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00 }),
        (Lines { "<-     State of sensors: 0000000000000100", "<-      Validating head input sensor activated", "" }));
    EXPECT_EQ(Status({ 0x10, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00 }),
        (Lines { "<-     State of sensors: 0000010000000000", "<-      Cassette 3 overflow sensor activated", "" }));
}

TEST(DiagnosticStatus, ValidatorResults)
{
    EXPECT_EQ(Status({ 0x11, 0, 0, 0, 0, 0, 0 }), (Lines { "<-     Validator test result: 0000000000000000", "<-     Test passed" }));
    EXPECT_EQ(Status({ 0x11, 0, 0, 0, 0x10, 0, 0 }),
        (Lines { "<-     Validator test result: 0000000000100000", "<-      Right optical sensor failed on translucence",
            "<-     Test failed" }));
}

TEST(DiagnosticStatus, ValidatorLinesFollowTheirOwnOrder)
{
    // Bits 12 and 15: the optical-board line comes before the magnetic one.
    Lines lines = Status({ 0x11, 0, 0, 0, 0, 0x90, 0 });
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "<-      Left additional optical sensor on optical board failed");
    EXPECT_EQ(lines[2], "<-      Left additional optical sensor on magnetic board failed");
    // Bits 42, 43 and 44.
    lines = Status({ 0x11, 0x1C, 0, 0, 0, 0, 0 });
    EXPECT_EQ(lines, (Lines { "<-     Validator test result: 00001C0000000000", "<-      Alignment mechanism failed",
                         "<-      Stacking mechanism failed", "<-      Box presence sensor failed", "<-     Test failed" }));
}

TEST(DiagnosticStatus, SwitchOrderIsZeroTwoOne)
{
    EXPECT_EQ(Status({ 0x14, 0x00, 0x07 }),
        (Lines { "<-     Switch test result: 0000000000000007", "<-      Switch motor optical encoder failed",
            "<-      Unable to position the switch", "<-      Switch position sensor failed", "<-     Test failed" }));
}

TEST(DiagnosticStatus, BitsWithoutTextStillFail)
{
    EXPECT_EQ(Status({ 0x12, 0x00, 0x08 }), (Lines { "<-     Cassette test result: 0000000000000008", "<-     Test failed" }));
    EXPECT_EQ(Status({ 0x16, 0x40, 0x00 }),
        (Lines { "<-     Communication test result: 0000000000004000", "<-      Communication with EEPROM failed",
            "<-     Test failed" }));
    EXPECT_EQ(Status({ 0x13, 0x20, 0x01 }),
        (Lines { "<-     Dispenser test result: 0000000000002001", "<-      Drum optical encoder failed",
            "<-      Shutter position sensor failed", "<-     Test failed" }));
    EXPECT_EQ(Status({ 0x15, 0x00, 0x00 }), (Lines { "<-     Chassis test result: 0000000000000000", "<-     Test passed" }));
}

TEST(DiagnosticStatus, ResultShorterThanItsFieldReadsZero)
{
    EXPECT_EQ(Status({ 0x11, 0xFF }), (Lines { "<-     Validator test result: 0000000000000000", "<-     Test passed" }));
}

TEST(SupportedFunctions, EveryCodeOnItsOwnLine)
{
    EXPECT_EQ(DecodeReply(DecodeSupportedFunctions, ReplyRecord(1, { 0x01, 0x02, 0x03 })),
        (Lines { "<-  List of supported functions:", "<-  01", "<-  02", "<-  03" }));
    EXPECT_EQ(DecodeReply(DecodeSupportedFunctions, ReplyRecord(1, { 0x00 })), Lines { "<- ACK" });
    Lines one = DecodeReply(DecodeSupportedFunctions, ReplyRecord(1, { 0x10, 0x00 }));
    EXPECT_EQ(one, (Lines { "<-  List of supported functions:", "<-  10", "<-  00" }));
}

TEST(DiagnosticIdentification, ThreeTexts)
{
    Bytes data;
    for (std::string_view text : { "ORVEX", "Cyclor", "1.02" }) {
        data.insert(data.end(), text.begin(), text.end());
        data.push_back(0);
    }
    EXPECT_EQ(DecodeReply(DecodeDiagnosticIdentification, ReplyRecord(1, data)),
        (Lines { "<-  Manufacturer: ORVEX", "<-  Device: Cyclor", "<-  Version: 1.02" }));
    // Without the zero bytes the texts end at the check code.
    EXPECT_EQ(DecodeReply(DecodeDiagnosticIdentification, ReplyRecord(1, { 'A', 'B' })),
        (Lines { "<-  Manufacturer: AB", "<-  Device: ", "<-  Version: " }));
}
