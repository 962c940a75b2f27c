#include "DecodeTestSupport.h"
#include "decode/Decoders.h"

#include <gtest/gtest.h>

using namespace orvex;
using namespace orvex::test;

namespace {

std::vector<std::string> Request(RequestDecoder decoder, std::uint8_t address, const Bytes& data)
{
    return DecodeRequest(decoder, Exchange(MakeFrame(address, data), MakeFrame(address, { 0x00 })));
}

using Lines = std::vector<std::string>;

} // namespace

TEST(RequestLines, MasksAndSecurity)
{
    EXPECT_EQ(Request(DecodeBillTypeRequest, 3, { 0x34, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x0F }),
        Lines { "-> Enabled bills: 0000FF, Escrowed bills: 00000F" });
    EXPECT_EQ(Request(DecodeSecurityRequest, 3, { 0x32, 0x12, 0x34, 0x56 }), Lines { "-> Security settings: 123456" });
}

TEST(RequestLines, DispensePairs)
{
    EXPECT_EQ(Request(DecodeDispenseRequest, 1, { 0x3C, 0x02, 0x05, 0x03, 0x01 }),
        (Lines { "-> 5 bills of Bill Type 2", "-> 1 bills of Bill Type 3" }));
    EXPECT_EQ(Request(DecodeDispenseRequest, 1, { 0x3C }), Lines {});
}

TEST(RequestLines, DispenseLongerThanOneLineShowsPairsOfTheFirstLineButItsLast)
{
    Bytes data { 0x3C };
    for (std::uint8_t type = 0; type < 10; ++type) {
        data.push_back(type);
        data.push_back(1);
    }
    Lines lines = Request(DecodeDispenseRequest, 1, data);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines.front(), "-> 1 bills of Bill Type 0");
    EXPECT_EQ(lines.back(), "-> 1 bills of Bill Type 6");
}

TEST(RequestLines, UnloadBarcodeUserDataAndCassetteNumbers)
{
    EXPECT_EQ(Request(DecodeUnloadRequest, 1, { 0x3D, 0x02, 0x0A }), Lines { "-> 10 bills from Cassette 2" });
    EXPECT_EQ(Request(DecodeBarcodeParametersRequest, 3, { 0x39, 0x01, 0x12 }),
        Lines { "-> Barcode format:1, Barcode length: 18" });
    EXPECT_EQ(Request(DecodeUserDataRequest, 3, { 0x80, 0x10, 0x01, 0xAB }), Lines { "-> Block length: 16, Offset: 01AB" });
    EXPECT_EQ(Request(DecodeCassetteNumberRequest, 1, { 0x70, 0x03 }), Lines { "-> Cassette 3" });
    EXPECT_EQ(Request(DecodeDiagnosticCassetteRequest, 1, { 0xF0, 0x12, 0x02 }), Lines { "-> Cassette 2" });
}

TEST(RequestLines, CassetteTypeRequest)
{
    EXPECT_EQ(Request(DecodeCassetteTypeRequest, 1, { 0x40, 0x01, 0x5F }), Lines { "-> Assign cassette 1 to NONE" });
    EXPECT_EQ(Request(DecodeCassetteTypeRequest, 1, { 0x40, 0x02, 0x38 }), Lines { "-> Assign cassette 2 to Escrow" });
    EXPECT_EQ(Request(DecodeCassetteTypeRequest, 1, { 0x40, 0x03, 0x82 }), Lines { "-> Assign cassette 3 to bill type 2" });
}

TEST(RequestLines, TimeRequest)
{
    EXPECT_EQ(Request(DecodeTimeRequest, 1, { 0x62, 0x09, 0x05, 0x14, 0x07, 0x07, 0x03, 0x09 }),
        Lines { "-> Time: 03/07/09 14:05:09" });
    EXPECT_EQ(Request(DecodeTimeRequest, 1, { 0x62, 0x09, 0x05, 0x14, 0x07, 0x07, 0x13, 0x09 }), Lines { "-> Invalid data" });
    EXPECT_EQ(Request(DecodeTimeRequest, 1, { 0x62, 0x09, 0x05, 0x25, 0x07, 0x07, 0x03, 0x09 }), Lines { "-> Invalid data" });
    EXPECT_EQ(Request(DecodeTimeRequest, 1, { 0x62, 0x09 }), Lines { "-> Invalid data" });
}

TEST(RequestLines, OptionsRequestForm)
{
    EXPECT_EQ(Request(DecodeOptionsRequest, 3, { 0x68, 0xA0, 0x00, 0x00, 0x00 }),
        (Lines { "->    set LED BV INHIBIT option ", "->    clear KEEP BILL option", "->    set LOOK TAPE option",
            "->    clear TURN SWITCH option" }));
}

TEST(RequestLines, OptionsReplyForm)
{
    std::vector<std::string> lines = DecodeReply(DecodeOptionsReply, ReplyRecord(3, { 0x50, 0x00, 0x00, 0x00 }));
    EXPECT_EQ(lines, (Lines { "<-    LED BV INHIBIT option is cleared", "<-    KEEP BILL option is set",
                         "<-    LOOK TAPE option is cleared", "<-    TURN SWITCH option is set", "" }));
    EXPECT_EQ(DecodeReply(DecodeOptionsReply, ReplyRecord(3, { 0x30 })), Lines { "<- Invalid command" });
    EXPECT_EQ(DecodeReply(DecodeOptionsReply, FailedRecord("Timeout")), Lines { "<- Timeout" });
}

TEST(RequestLines, DiagnosticLinesAsTheyStand)
{
    std::vector<std::string> record = Exchange(MakeFrame(1, { 0xF0, 0x20, 0x01 }), MakeFrame(1, { 0x00 }));
    EXPECT_EQ(DecodeRequest(DecodeRawRequest, record), Lines { record[0] });
    EXPECT_EQ(DecodeReply(DecodeRawReply, record), Lines { record[1] });
}
