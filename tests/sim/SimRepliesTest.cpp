#include "SimHarness.h"
#include "link/Bcd.h"

#include <cstring>
#include <ctime>

namespace orvex::test {
namespace {

std::string Text(const Bytes& reply, std::size_t offset, std::size_t width)
{
    std::string text;
    for (std::size_t at = offset; at < offset + width && at < reply.size() && reply[at] != 0; ++at)
        text += static_cast<char>(reply[at]);
    return text;
}

std::uint16_t Little(const Bytes& reply, std::size_t at)
{
    return static_cast<std::uint16_t>(reply[at] | reply[at + 1] << 8);
}

// ---- Identification --------------------------------------------------------

TEST(SimIdentification, ShortFormIsLength0x27)
{
    SimHarness sim;
    Bytes reply = sim.Send({ 0x37 });
    ASSERT_EQ(reply.size(), 0x27u);
    EXPECT_EQ(reply[2], 0x27);
    EXPECT_EQ(Text(reply, 3, 15), "CY-300-USD");
    EXPECT_EQ(Text(reply, 18, 12), "CY0012345678");
    EXPECT_TRUE(SimHarness::CheckCodeHolds(reply));
}

TEST(SimIdentification, ExtendedFormHoldsEveryVersionField)
{
    SimHarness sim;
    Bytes reply = sim.Send({ 0x3E });
    ASSERT_GE(reply[2], 109);
    ASSERT_EQ(reply.size(), reply[2]);
    EXPECT_GE(reply.size(), 112u + 2u) << "the cassette software field (106..111) lies before the check code";
    EXPECT_EQ(Text(reply, 44, 20), "BV24 2.31.07");
    EXPECT_EQ(Text(reply, 106, 6), "1.12");
}

TEST(SimIdentification, ValidatorHasNoCyclorCommands)
{
    SimOptions options = SimHarness::FastOptions();
    options.device = SimDeviceKind::Validator;
    SimHarness sim(options);
    EXPECT_TRUE(sim.Send(1, { 0x33 }).empty());
    EXPECT_EQ(sim.Send({ 0x37 }).size(), 0x27u);
    EXPECT_EQ(Text(sim.Send({ 0x37 }), 3, 15), "BV-24-USD");
    for (std::uint8_t code : { 0x3B, 0x3C, 0x3D, 0x3E, 0x40, 0x53, 0x60, 0x62, 0x66, 0x67, 0x70 })
        EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ code }))) << int(code);
}

TEST(SimIdentification, ValidatorStackedStateHasNoDestination)
{
    SimOptions options = SimHarness::FastOptions();
    options.device = SimDeviceKind::Validator;
    SimHarness sim(options);
    sim.Ready(0x7F, 0);
    sim.Control("insert 3");
    ASSERT_TRUE(sim.PollUntil(0x81));
    EXPECT_EQ(sim.last.size(), 7u);
    EXPECT_EQ(sim.Detail(), 3);
    EXPECT_EQ(sim.Ledger().dropBox, 1);
}

// ---- Money -------------------------------------------------------------------

TEST(SimMoney, BillTableDescribesTheDefaultBills)
{
    SimHarness sim;
    Bytes reply = sim.Send({ 0x41 });
    ASSERT_EQ(reply.size(), 125u);
    const Bytes one { 1, 'U', 'S', 'D', 0 };
    const Bytes fifty { 5, 'U', 'S', 'D', 1 };
    const Bytes hundred { 1, 'U', 'S', 'D', 2 };
    EXPECT_EQ(Bytes(reply.begin() + 3, reply.begin() + 8), one);
    EXPECT_EQ(Bytes(reply.begin() + 3 + 25, reply.begin() + 8 + 25), fifty);
    EXPECT_EQ(Bytes(reply.begin() + 3 + 30, reply.begin() + 8 + 30), hundred);
    EXPECT_EQ(reply[3 + 35], 0) << "type 7 unused";
}

TEST(SimMoney, FractionalBillsDivide)
{
    std::string error;
    auto table = ParseBillTable("eur:0.5,5,,500", error);
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_EQ(table[0].digits, 5);
    EXPECT_EQ(table[0].exponent, -1);
    EXPECT_EQ(table[0].country, "EUR");
    EXPECT_EQ(table[2].digits, 0);
    EXPECT_EQ(table[3].exponent, 2);
    EXPECT_EQ(table[23].country, "BAR");
    ParseBillTable("USD:257", error);
    EXPECT_NE(error.find("'257'"), std::string::npos);
    ParseBillTable("US:1", error);
    EXPECT_FALSE(error.empty());
    ParseBillTable("USD:1,x", error);
    EXPECT_NE(error.find("'x'"), std::string::npos);
}

TEST(SimMoney, CassetteStatusAndStatusWords)
{
    SimOptions options = SimHarness::FastOptions();
    options.cassettes = { { { 0, 10, 100 }, { 3, 20, 20 }, { 31, 0, 100 } } };
    SimHarness sim(options);
    EXPECT_EQ(sim.Send({ 0x3B }), MakeFrame(1, { 0x80, 10, 0xC3, 20, 0x9F, 0 }));
    sim.Ready(0x0000FF, 0x000001);
    Bytes status = sim.Send({ 0x31 });
    EXPECT_EQ(status, MakeFrame(1, { 0, 0, 0xFF, 0, 0, 0, 0, 0, 0x09 }));
    Bytes extended = sim.Send({ 0x70, 1 });
    ASSERT_EQ(extended.size(), 5u + 1u + 10u);
    EXPECT_EQ(extended[3], 10);
    EXPECT_EQ(extended[4], 0);
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x70, 9 })));
}

TEST(SimMoney, StatisticsCountWhatHappened)
{
    SimHarness sim;
    sim.Ready(0x7F, 0);
    for (int bill = 0; bill < 3; ++bill) {
        sim.Control("insert 1");
        ASSERT_TRUE(sim.PollUntil(0x14));
    }
    sim.Control("insert 9");
    ASSERT_TRUE(sim.PollUntil(0x1C));
    Bytes reply = sim.Send({ 0x60 });
    ASSERT_GT(reply.size(), 4341u);
    EXPECT_EQ(reply[2], 0);
    EXPECT_EQ(std::size_t(reply[3] << 8 | reply[4]), reply.size());
    EXPECT_TRUE(SimHarness::CheckCodeHolds(reply));
    EXPECT_EQ(Text(reply, 5, 3), "USD");
    EXPECT_EQ(reply[8], 7);
    EXPECT_EQ(Little(reply, 10), 2024);
    EXPECT_EQ(Text(reply, 18, 12), "CY0012345678");
    EXPECT_EQ(Little(reply, 37), 4) << "inserted";
    EXPECT_EQ(Little(reply, 37 + 2 + 2), 3) << "accepted, denomination 2";
    EXPECT_EQ(Little(reply, 37 + 162), 1) << "unrecognized";
    EXPECT_EQ(Little(reply, 37 + 179), 0) << "block 1 stays empty";
    const Bytes hundred { 0x81, 'U', 'S', 'D', 2 };
    EXPECT_EQ(Bytes(reply.begin() + 4241 + 30, reply.begin() + 4246 + 30), hundred);
    EXPECT_EQ(Text(reply, 4341, 10), "USD");
}

// ---- Clock, options, recovery ---------------------------------------------------

std::time_t ClockOf(const Bytes& reply)
{
    std::tm local {};
    local.tm_sec = BcdValue(reply[3]);
    local.tm_min = BcdValue(reply[4]);
    local.tm_hour = BcdValue(reply[5]);
    local.tm_mday = BcdValue(reply[7]);
    local.tm_mon = BcdValue(reply[8]) - 1;
    local.tm_year = BcdValue(reply[9]) + 100;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

TEST(SimClock, StartsAtHostTimePlusOffset)
{
    SimOptions options = SimHarness::FastOptions();
    options.clockOffsetHours = -3;
    SimHarness sim(options);
    Bytes reply = sim.Send({ 0x62 });
    ASSERT_EQ(reply.size(), 12u);
    double hours = std::difftime(ClockOf(reply), std::time(nullptr)) / 3600.0;
    EXPECT_NEAR(hours, -3.0, 0.05);
}

TEST(SimClock, SetCyTimeSetsIt)
{
    SimHarness sim;
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0x62, 0x09, 0x05, 0x14, 0x07, 0x07, 0x03, 0x09 })));
    Bytes reply = sim.Send({ 0x62 });
    EXPECT_EQ(reply[9], 0x09);
    EXPECT_EQ(reply[8], 0x03);
    EXPECT_EQ(reply[7], 0x07);
    EXPECT_EQ(reply[6], 7) << "2009-03-07 was a Saturday";
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x62, 0x09, 0x05, 0x14, 0x07, 0x07, 0x13, 0x09 }))) << "month 13";
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x62, 0x0A, 0x05, 0x14, 0x07, 0x07, 0x03, 0x09 }))) << "not BCD";
}

TEST(SimSettings, ShortParametersAreInvalid)
{
    SimHarness sim;
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x34, 0, 0 }))) << "BILL TYPE needs six bytes";
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x68, 1 })));
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x44, 4, 30 })));
}

TEST(SimSettings, NoPowerCutNoRecord)
{
    SimHarness sim;
    EXPECT_EQ(sim.Send({ 0x66 }), MakeFrame(1, { 0x00 }));
}

// ---- Diagnostics -------------------------------------------------------------------

TEST(SimDiagnostics, TestRunsThenReportsItsResult)
{
    SimHarness sim;
    EXPECT_EQ(sim.Send({ 0xF0, 0x00 }), MakeFrame(1, { 0x00 })) << "READY";
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0xF0, 0x11 })));
    EXPECT_EQ(sim.Send({ 0xF0, 0x00 }), MakeFrame(1, { 0x1B })) << "BUSY";
    sim.Wait(50);
    EXPECT_EQ(sim.Send({ 0xF0, 0x00 }), MakeFrame(1, { 0x11, 0, 0, 0, 0, 0, 0 }));
    sim.Send({ 0xF0, 0x13 });
    sim.Wait(50);
    EXPECT_EQ(sim.Send({ 0xF0, 0x00 }), MakeFrame(1, { 0x13, 0, 0 }));
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0xF0, 0x12, 7 })));
}

TEST(SimDiagnostics, SensorsSeeTheBill)
{
    SimHarness sim;
    sim.Ready();
    sim.Control("insert 1");
    ASSERT_TRUE(sim.PollUntil(0x80));
    sim.Send({ 0xF0, 0x10 });
    sim.Wait(50);
    EXPECT_EQ(sim.Send({ 0xF0, 0x00 }), MakeFrame(1, { 0x10, 0, 0, 0, 0, 0x01, 0x00 }));
}

// ---- Card reader ---------------------------------------------------------------------

TEST(SimCardReader, SessionAndVend)
{
    SimOptions options = SimHarness::FastOptions();
    options.cardReader = true;
    SimHarness sim(options);
    auto readerState = [&] {
        Bytes reply = sim.Send(4, { 0x33 });
        return reply.size() == 7 ? reply[3] : 0;
    };
    EXPECT_EQ(readerState(), 0x10);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send(4, { 0x31 })));
    EXPECT_EQ(readerState(), 0x11);
    sim.Wait(10);
    EXPECT_EQ(readerState(), 1);
    EXPECT_EQ(sim.Send(4, { 0x11, 2, 'U', 'S', 'D' }), MakeFrame(4, { 0x00, 2 }));
    EXPECT_TRUE(SimHarness::IsAck(sim.Send(4, { 0x14, 1 })));
    EXPECT_EQ(readerState(), 5);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send(4, { 0x13, 0x10 })));
    EXPECT_EQ(readerState(), 7);
    EXPECT_EQ(sim.Send(4, { 0x13, 0x00 }), MakeFrame(4, { 0xE0, 'U', 'S', 'D', 0, 0, 0x13, 0x88, 2 }));
    EXPECT_TRUE(SimHarness::IsAck(sim.Send(4, { 0x13, 0x01, 0, 0, 0, 0x01, 0xF4, 0, 0, 0x01, 0xF4 })));
    EXPECT_EQ(sim.Send(4, { 0x13, 0x00 })[9], 0x11) << "5000 - 500 = 4500 = 0x1194";
    EXPECT_EQ(sim.Send(4, { 0x13, 0x01, 0, 0, 0, 0x27, 0x10, 0, 0, 0x27, 0x10 }), MakeFrame(4, { 0xFF })) << "more than the card holds";
    EXPECT_TRUE(SimHarness::IsAck(sim.Send(4, { 0x13, 0x03 })));
    EXPECT_EQ(readerState(), 0x14);
    EXPECT_EQ(readerState(), 7);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send(4, { 0x13, 0x04 })));
    EXPECT_EQ(readerState(), 5);
    EXPECT_GT(sim.Send(4, { 0x15 }).size(), 10u);
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send(4, { 0x40 })));
}

} // namespace
} // namespace orvex::test
