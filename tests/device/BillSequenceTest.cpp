#include "DeviceFixture.h"

namespace orvex::test {
namespace {

using StackBill = DeviceTest;

TEST_F(StackBill, PacksTheEscrowedBillAndWaitsForStacked)
{
    bus.SetState(kBv, 0x80, 2);
    bus.On(kBv, 0x35, [this](const Bytes&) {
        bus.QueueStates(kBv, { { 0x17, 0, 0 }, { 0x17, 0, 0 }, { 0x81, 2, 0 } });
        return Bytes { 0x00 };
    });
    EXPECT_EQ(device.StackBill(kBv), 0);
    EXPECT_EQ(Codes(kBv), CodeList({ 0x35 }));
    EXPECT_EQ(device.GetLastPoll().state, 0x81);
}

TEST_F(StackBill, AlreadyStackingSkipsPack)
{
    bus.QueueStates(kBv, { { 0x17, 0, 0 }, { 0x17, 0, 0 }, { 0x81, 0, 0 } });
    EXPECT_EQ(device.StackBill(kBv), 0);
    EXPECT_TRUE(Codes(kBv).empty());
}

TEST_F(StackBill, RefusedPackGivesItsCode)
{
    bus.SetState(kBv, 0x80);
    bus.On(kBv, 0x35, [](const Bytes&) { return Bytes { 0x30 }; });
    EXPECT_EQ(device.StackBill(kBv), -6);
    bus.On(kBv, 0x35, [](const Bytes&) { return Bytes { 0xFF }; });
    EXPECT_EQ(device.StackBill(kBv), -5);
}

TEST_F(StackBill, UnexpectedStatesAreNotAccepted)
{
    bus.SetState(kBv, 0x14);
    EXPECT_EQ(device.StackBill(kBv), -10000);
    bus.SetState(kBv, 0x80);
    bus.AckThen(kBv, 0x35, 0x10); // powered up again instead of stacking
    EXPECT_EQ(device.StackBill(kBv), -10000);
    bus.SetState(kBv, 0x17);
    bus.QueueStates(kBv, { { 0x17, 0, 0 }, { 0x13, 0, 0 } });
    EXPECT_EQ(device.StackBill(kBv), -10000);
}

using ReturnBill = DeviceTest;

TEST_F(ReturnBill, IdleDeviceRunsOutWithoutReturn)
{
    bus.SetState(kBv, 0x14);
    EXPECT_EQ(device.ReturnBill(kBv), -1000);
    EXPECT_TRUE(Codes(kBv).empty());
    EXPECT_GT(Codes(kBv, true).size(), 10u);
}

TEST_F(ReturnBill, ReturnsTheEscrowedBill)
{
    bus.SetState(kBv, 0x80, 5);
    bus.On(kBv, 0x36, [this](const Bytes&) {
        bus.QueueStates(kBv, { { 0x18, 0, 0 }, { 0x18, 0, 0 }, { 0x82, 5, 0 } });
        return Bytes { 0x00 };
    });
    EXPECT_EQ(device.ReturnBill(kBv), 0);
    EXPECT_EQ(Codes(kBv), CodeList({ 0x36 }));
    EXPECT_EQ(device.notified, std::vector<int>({ 0 }));
}

TEST_F(ReturnBill, FailedReturnIsACommandError)
{
    bus.SetState(kBv, 0x80);
    bus.On(kBv, 0x36, [](const Bytes&) { return Bytes { 0xFF }; });
    int result = device.ReturnBill(kBv);
    EXPECT_EQ(result, -2005);
    EXPECT_EQ(CVMCInterface::ResultText(result), "Command error. Comm: ACK not recieved");
}

TEST_F(ReturnBill, WrongStatesAfterReturn)
{
    bus.SetState(kBv, 0x80);
    bus.AckThen(kBv, 0x36, 0x10);
    EXPECT_EQ(device.ReturnBill(kBv), -10000);
    bus.SetState(kBv, 0x80);
    bus.On(kBv, 0x36, [this](const Bytes&) {
        bus.QueueStates(kBv, { { 0x18, 0, 0 }, { 0x45, 0, 0 } });
        return Bytes { 0x00 };
    });
    EXPECT_EQ(device.ReturnBill(kBv), -10000);
}

using EnableBills = DeviceTest;

TEST_F(EnableBills, SendsBothMasksAndReadsTheEnabledWordBack)
{
    bus.On(kBv, 0x31, [](const Bytes&) {
        return Bytes { 0x00, 0x00, 0x0F, 0x00, 0x00, 0x01, 0x00, 0x00, 0x05 };
    });
    std::uint32_t enabled = 0x12345F;
    EXPECT_EQ(device.EnableBills(enabled, 0xABCDEF, kBv), 0);
    EXPECT_EQ(enabled, 0x0Fu);
    auto commands = peer.Commands();
    ASSERT_EQ(Codes(kBv), CodeList({ 0x34, 0x31 }));
    Bytes billType = commands[0];
    ASSERT_EQ(billType.size(), 12u);
    EXPECT_EQ(Bytes(billType.begin() + 4, billType.begin() + 10), Bytes({ 0x12, 0x34, 0x5F, 0xAB, 0xCD, 0xEF }));
    auto table = device.GetBillTable();
    EXPECT_EQ(table[0].routed, 1);
    EXPECT_EQ(table[1].routed, 0);
    EXPECT_EQ(table[2].routed, 1);
    EXPECT_EQ(table[3].routed, 0);
}

TEST_F(EnableBills, RefusedBillTypeSendsNothingMore)
{
    bus.On(kBv, 0x34, [](const Bytes&) { return Bytes { 0x30 }; });
    std::uint32_t enabled = 1;
    EXPECT_EQ(device.EnableBills(enabled, 0, kBv), -6);
    EXPECT_EQ(Codes(kBv), CodeList({ 0x34 }));
}

using GetStatus = DeviceTest;

TEST_F(GetStatus, FailureGivesZeros)
{
    bus.SetSilent(kBv, true);
    std::uint32_t enabled = 1, security = 2, routed = 3;
    EXPECT_EQ(device.GetStatus(enabled, security, routed, kBv), -1);
    EXPECT_EQ(enabled | security | routed, 0u);
}

TEST_F(GetStatus, CopiesTheThreeWords)
{
    bus.On(kBv, 0x31, [](const Bytes&) {
        return Bytes { 0xFF, 0xFF, 0xFF, 0x00, 0x12, 0x34, 0x80, 0x00, 0x00 };
    });
    std::uint32_t enabled = 0, security = 0, routed = 0;
    EXPECT_EQ(device.GetStatus(enabled, security, routed, kBv), 0);
    EXPECT_EQ(enabled, 0xFFFFFFu);
    EXPECT_EQ(security, 0x1234u);
    EXPECT_EQ(routed, 0x800000u);
    EXPECT_EQ(device.GetBillTable()[23].routed, 1);
    EXPECT_EQ(device.GetBillTable()[22].routed, 0);
}

using ReadBarcode = DeviceTest;

TEST_F(ReadBarcode, GivesTheTextOnlyWhenRead)
{
    bus.On(kBv, 0x3A, [](const Bytes&) { return Bytes { '0', '4', '2' }; });
    std::string text;
    EXPECT_EQ(device.ReadBarcode(text, kBv), 1);
    EXPECT_EQ(text, "042");
    bus.On(kBv, 0x3A, [](const Bytes&) { return Bytes { 0x30 }; });
    EXPECT_EQ(device.ReadBarcode(text, kBv), 0);
    EXPECT_TRUE(text.empty());
}

} // namespace
} // namespace orvex::test
