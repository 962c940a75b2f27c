#include "DecodeTestSupport.h"
#include "decode/Decoders.h"

#include <gtest/gtest.h>

using namespace orvex;
using namespace orvex::test;

namespace {

std::string Poll(const Bytes& data, const DecodeContext& context = RussianContext(), DecodeOutput* output = nullptr)
{
    DecodeOutput local;
    std::vector<std::string> record = Exchange(MakeFrame(3, { 0x33 }), MakeFrame(3, data));
    return DecodePoll(DecodeInput { record[1], record, context }, output ? *output : local);
}

std::string PollLine(std::string_view line)
{
    DecodeOutput output;
    DecodeContext context;
    return DecodePoll(DecodeInput { line, {}, context }, output);
}

} // namespace

TEST(PollStates, PlainStatesHaveTheirTexts)
{
    EXPECT_EQ(Poll({ 0x14 }), "<- IDLING");
    EXPECT_EQ(Poll({ 0x10 }), "<- POWER UP");
    EXPECT_EQ(Poll({ 0x11 }), "<- POWER UP WITH BILL IN CHANNEL");
    EXPECT_EQ(Poll({ 0x19 }), "<- DISABLED");
    EXPECT_EQ(Poll({ 0x25, 0x07 }), "<- DISPENSED");
    EXPECT_EQ(Poll({ 0x2A }), "<- FEEDING LEVEL IMPLEMENTING");
    EXPECT_EQ(Poll({ 0x49 }), "<- VALIDATING HEAD OUT OF POSITION");
}

TEST(PollStates, CountsAreDecimal)
{
    EXPECT_EQ(Poll({ 0x26, 0x05 }), "<- UNLOADED 5 bills");
    EXPECT_EQ(Poll({ 0x2B, 0x1E }), "<- FEEDING LEVEL IMPLEMENTED to 30 bills");
    EXPECT_EQ(Poll({ 0x1E, 0x00 }), "<- UNLOADING");
    EXPECT_EQ(Poll({ 0x1E, 0x02 }), "<- UNLOADING: Not enough bills to complete request");
}

TEST(PollStates, UnknownStatusShowsNineCharacters)
{
    Bytes frame = MakeFrame(3, { 0x16 });
    char expected[16];
    std::snprintf(expected, sizeof expected, "16 %02X %02X ", frame[4], frame[5]);
    EXPECT_EQ(Poll({ 0x16 }), expected);
    EXPECT_EQ(Poll({ 0x1F, 0xAA }).substr(0, 6), "1F AA ");
    EXPECT_EQ(Poll({ 0x83, 0x01 }).size(), 9u);
    EXPECT_EQ(Poll({ 0x05, 0x01 }).substr(0, 3), "05 ");
}

TEST(PollReasons, RejectionReasons)
{
    EXPECT_EQ(Poll({ 0x1C, 0x67 }), "<- REJECTING: Optical error");
    EXPECT_EQ(Poll({ 0x1C, 0x60 }), "<- REJECTING: Insertion error");
    EXPECT_EQ(Poll({ 0x1C, 0x95 }), "<- REJECTING: Invalid barcode stop sequence");
    EXPECT_EQ(Poll({ 0x1C, 0x6B }), "<- REJECTING: Unknown reason (6B)");
    EXPECT_EQ(Poll({ 0x1C, 0x05 }), "<- REJECTING: Unknown reason (5)");
}

TEST(PollReasons, DispensingActions)
{
    EXPECT_EQ(Poll({ 0x1D, 0x00 }), "<- DISPENSING: Moving bills to dispenser");
    EXPECT_EQ(Poll({ 0x1D, 0x01 }), "<- DISPENSING: Waiting for bills to be removed");
    EXPECT_EQ(Poll({ 0x1D, 0x02 }), "<- DISPENSING: Unknown action");
}

TEST(PollReasons, FailureTexts)
{
    EXPECT_EQ(Poll({ 0x47, 0x50 }), "<- FAILURE: Stacker motor failure");
    EXPECT_EQ(Poll({ 0x47, 0x67 }), "<- FAILURE: Capacity sensor failure");
    EXPECT_EQ(Poll({ 0x47, 0x5A, 0x01 }), "<- FAILURE: 5A:1");
}

TEST(PollFailureLines, ComeBackUnchanged)
{
    for (const char* failure : { "Timeout", "Synchronization error", "Data error", "CRC error", "ACK not recieved",
             "Invalid command", "Execution Error", "Error code FFFFFFF8" }) {
        std::string line = std::string("<- ") + failure;
        EXPECT_EQ(PollLine(line), line);
    }
    EXPECT_EQ(PollLine("<-"), "<-");
    EXPECT_EQ(PollLine(""), "");
}

TEST(PollBills, EscrowWithTableSetsTheStatusBox)
{
    DecodeOutput output;
    std::string line = Poll({ 0x80, 0x02 }, RussianContext(), &output);
    EXPECT_EQ(line, "<- **************    10 RUS in Escrow position     **************");
    EXPECT_TRUE(output.HasStatusText());
    EXPECT_EQ(output.StatusText(), line);
}

TEST(PollBills, WithoutTableTheTypeNumberIsShown)
{
    EXPECT_EQ(Poll({ 0x80, 0x03 }, DecodeContext {}),
        "<- **************    Bill type 3 in Escrow position     **************");
    EXPECT_EQ(Poll({ 0x82, 0x03 }, DecodeContext {}), "<- **************    Bill type 3 returned     **************");
}

TEST(PollBills, ValuesPrintWithPercentG)
{
    EXPECT_EQ(Poll({ 0x82, 0x03 }), "<- **************    1e+06 RUS returned     **************");
    EXPECT_EQ(Poll({ 0x82, 0x04 }), "<- **************    0.5 USD returned     **************");
    EXPECT_EQ(Poll({ 0x82, 0x05 }), "<- **************    100 USD returned     **************");
}

TEST(PollBills, TypesAboveTheTableAreNamedByNumber)
{
    EXPECT_EQ(Poll({ 0x80, 0x18 }), "<- **************    Bill type 24 in Escrow position     **************");
    EXPECT_EQ(Poll({ 0x80, 0xFF }), "<- **************    Bill type 255 in Escrow position     **************");
}

TEST(PollBills, StackedDestinationsForTheCyclorUnit)
{
    EXPECT_EQ(Poll({ 0x81, 0x02, 0x01 }), "<- **************    10 RUS packed into cassette 1     **************");
    EXPECT_EQ(Poll({ 0x81, 0x02, 0x03 }), "<- **************    10 RUS packed into cassette 3     **************");
    EXPECT_EQ(Poll({ 0x81, 0x02, 0x00 }), "<- **************    10 RUS packed into drop box     **************");
    EXPECT_EQ(Poll({ 0x81, 0x02, 0x07 }), "<- **************    10 RUS packed into unknown location 07    **************");
    EXPECT_EQ(Poll({ 0x81, 0x09, 0x00 }, DecodeContext { 1, {} }),
        "<- **************    Bill type 9 packed into drop box     **************");
}

TEST(PollBills, StackedOnOtherDevicesNamesNoDestination)
{
    DecodeOutput output;
    std::string line = Poll({ 0x81, 0x02, 0x01 }, RussianContext(3), &output);
    EXPECT_EQ(line, "<- **************    10 RUS packed    **************");
    EXPECT_EQ(output.StatusText(), line);
    EXPECT_EQ(Poll({ 0x81, 0x02, 0x07 }, RussianContext(0)), "<- **************    10 RUS packed    **************");
}

TEST(PollBills, MissingBytesReadAsZero)
{
    EXPECT_EQ(PollLine("<- 02 03 07 80 "), "<- **************    Bill type 0 in Escrow position     **************");
    EXPECT_EQ(PollLine("<- 02 03 07 47 5A "), "<- FAILURE: 5A:0");
    EXPECT_EQ(PollLine("<- 02 03 06 "), "");
    EXPECT_EQ(PollLine("<- 02 03 06 16"), "16");
}
