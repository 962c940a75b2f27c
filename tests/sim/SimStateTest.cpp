#include "SimHarness.h"

namespace orvex::test {
namespace {

using States = std::vector<std::uint8_t>;

// ---- Power up, reset, enabling -------------------------------------------

TEST(SimPowerUp, ReportsPowerUpUntilReset)
{
    SimHarness sim;
    EXPECT_EQ(sim.Poll(), 0x10);
    sim.Wait(60000);
    EXPECT_EQ(sim.Poll(), 0x10);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0x30 })));
    EXPECT_EQ(sim.Poll(), 0x13) << "RESET goes to INITIALIZING at once";
    EXPECT_EQ(sim.TraceUntil(0x19), (States { 0x13, 0x19 }));
}

TEST(SimPowerUp, BillTypeMaskChoosesIdlingOrDisabled)
{
    SimHarness sim;
    sim.Ready(0x000004, 0);
    EXPECT_EQ(sim.Poll(), 0x14);
    sim.Send({ 0x34, 0, 0, 0, 0, 0, 0 });
    EXPECT_EQ(sim.Poll(), 0x19);
}

TEST(SimPowerUp, ResetClearsTheEnableMask)
{
    SimHarness sim;
    sim.Ready();
    sim.Send({ 0x30 });
    EXPECT_TRUE(sim.PollUntil(0x19));
}

// ---- Bills ---------------------------------------------------------------

TEST(SimBills, EscrowThenPackStacksIntoTheTypesCassette)
{
    SimHarness sim;
    sim.Ready();
    EXPECT_EQ(sim.Control("insert 1").rfind("ok:", 0), 0u);
    EXPECT_EQ(sim.TraceUntil(0x80), (States { 0x15, 0x80 }));
    EXPECT_EQ(sim.Detail(), 1);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0x35 })));
    EXPECT_EQ(sim.TraceUntil(0x81), (States { 0x17, 0x81 }));
    EXPECT_EQ(sim.Detail(0), 1);
    EXPECT_EQ(sim.Detail(1), 2) << "type 1 lives in cassette 2";
    sim.Wait(20);
    EXPECT_EQ(sim.Poll(), 0x14);
    SimLedger ledger = sim.Ledger();
    EXPECT_EQ(ledger.cassettes[1].count, 11);
    EXPECT_EQ(ledger.inChannel, 0);
    EXPECT_TRUE(ledger.Balanced());
}

TEST(SimBills, WithoutEscrowBitGoesStraightToStacking)
{
    SimHarness sim;
    sim.Ready(0x7F, 0);
    sim.Control("insert 4");
    EXPECT_EQ(sim.TraceUntil(0x81), (States { 0x15, 0x17, 0x81 }));
    EXPECT_EQ(sim.Detail(1), 0) << "no cassette holds type 4: drop box";
    EXPECT_EQ(sim.Ledger().dropBox, 1);
}

TEST(SimBills, FullCassetteSendsTheBillToTheDropBox)
{
    SimOptions options = SimHarness::FastOptions();
    options.cassettes[0] = { 0, 5, 5 };
    SimHarness sim(options);
    sim.Ready(0x7F, 0);
    sim.Control("insert 0");
    ASSERT_TRUE(sim.PollUntil(0x81));
    EXPECT_EQ(sim.Detail(1), 0);
    SimLedger ledger = sim.Ledger();
    EXPECT_EQ(ledger.cassettes[0].count, 5);
    EXPECT_TRUE(ledger.cassettes[0].full);
    EXPECT_EQ(ledger.dropBox, 1);
}

TEST(SimBills, ReturnFromEscrow)
{
    SimHarness sim;
    sim.Ready();
    sim.Control("insert 2");
    ASSERT_TRUE(sim.PollUntil(0x80));
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0x36 })));
    EXPECT_EQ(sim.TraceUntil(0x82), (States { 0x18, 0x82 }));
    EXPECT_EQ(sim.Detail(), 2);
    EXPECT_EQ(sim.Ledger().returned, 1);
}

TEST(SimBills, EscrowTimesOutIntoReturning)
{
    SimOptions options = SimHarness::FastOptions();
    options.escrowTimeoutSeconds = 1;
    SimHarness sim(options);
    sim.Ready();
    sim.Control("insert 2");
    ASSERT_TRUE(sim.PollUntil(0x80));
    sim.Wait(500);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0x38 }))) << "HOLD restarts the escrow time";
    sim.Wait(700);
    EXPECT_EQ(sim.Poll(), 0x80);
    sim.Wait(400);
    EXPECT_EQ(sim.TraceUntil(0x82), (States { 0x18, 0x82 }));
}

TEST(SimBills, InhibitedTypeIsRejected)
{
    SimHarness sim;
    sim.Ready(0x01, 0x01);
    sim.Control("insert 3");
    EXPECT_EQ(sim.TraceUntil(0x14), (States { 0x15, 0x1C, 0x14 }));
    SimLedger ledger = sim.Ledger();
    EXPECT_EQ(ledger.returned, 1);
    EXPECT_TRUE(ledger.Balanced());
}

TEST(SimBills, RejectionCarriesItsReason)
{
    SimHarness sim;
    sim.Ready(0x01, 0x01);
    sim.Control("insert 3");
    ASSERT_TRUE(sim.PollUntil(0x1C));
    EXPECT_EQ(sim.Detail(), 0x68);
    ASSERT_TRUE(sim.PollUntil(0x14));
    sim.Control("insert 9"); // not in the bill table
    ASSERT_TRUE(sim.PollUntil(0x1C));
    EXPECT_EQ(sim.Detail(), 0x65);
}

TEST(SimBills, NoBillWhileDisabledOrBusy)
{
    SimHarness sim;
    sim.Ready(0, 0);
    EXPECT_EQ(sim.Control("insert 1").rfind("error: insert:", 0), 0u);
    sim.Send({ 0x34, 0, 0, 0x7F, 0, 0, 0x7F });
    sim.Control("insert 1");
    EXPECT_EQ(sim.Control("insert 2"), "error: insert: a bill is already in the acceptor");
    EXPECT_EQ(sim.Ledger().inserted, 1);
}

TEST(SimBills, BarcodeCouponIsExtracted)
{
    SimHarness sim;
    sim.Ready(0x80007F, 0x800000);
    sim.Control("insert-barcode 123456");
    ASSERT_TRUE(sim.PollUntil(0x80));
    EXPECT_EQ(sim.Detail(), 23);
    EXPECT_EQ(sim.Send({ 0x3A }), MakeFrame(1, { '1', '2', '3', '4', '5', '6' }));
}

TEST(SimBills, PackWithoutEscrowIsRefused)
{
    SimHarness sim;
    sim.Ready();
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x35 })));
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x36 })));
}

// Slow polling never skips a state: each is shown once before the next.
TEST(SimBills, EveryTransitionalStateIsReported)
{
    SimHarness sim;
    sim.Ready(0x7F, 0);
    sim.Control("insert 0");
    EXPECT_EQ(sim.TraceUntil(0x14, 5000), (States { 0x15, 0x17, 0x81, 0x14 }));
}

// ---- Dispensing and unloading ---------------------------------------------

TEST(SimDispense, MovesThenWaitsForTake)
{
    SimHarness sim;
    sim.Ready(0, 0);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0x3C, 2, 3, 0, 1 })));
    ASSERT_TRUE(sim.PollUntil(0x1D));
    EXPECT_EQ(sim.Detail(), 0);
    sim.Wait(100);
    EXPECT_EQ(sim.Poll(), 0x1D);
    EXPECT_EQ(sim.Detail(), 1);
    sim.Wait(5000);
    EXPECT_EQ(sim.Poll(), 0x1D) << "waits for the customer";
    SimLedger ledger = sim.Ledger();
    EXPECT_EQ(ledger.inDispenser, 4);
    EXPECT_EQ(ledger.cassettes[2].count, 7);
    EXPECT_EQ(ledger.cassettes[0].count, 9);
    EXPECT_EQ(sim.Control("take"), "ok: 4 bills taken");
    EXPECT_EQ(sim.TraceUntil(0x19), (States { 0x25, 0x19 }));
    ledger = sim.Ledger();
    EXPECT_EQ(ledger.dispensed, 4);
    EXPECT_TRUE(ledger.Balanced());
}

// Found by the sim_device fuzz target: moving the bills read the dispenser
// at the unassigned cassette's "type" 31, past its 24 slots (seen under the
// sanitizers).
TEST(SimDispense, CassettesWithoutABillTypeAreLeftAlone)
{
    SimOptions options = SimHarness::FastOptions();
    options.cassettes[1] = { kSimEscrowCassetteType, 0, 100 };
    options.cassettes[2] = { kSimUnassignedType, 0, 100 };
    SimHarness sim(options);
    sim.Ready(0, 0);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0x3C, 0, 2 })));
    ASSERT_TRUE(sim.PollUntil(0x1D));
    sim.Wait(1000);
    sim.Poll();
    SimLedger ledger = sim.Ledger();
    EXPECT_EQ(ledger.inDispenser, 2);
    EXPECT_EQ(ledger.cassettes[0].count, 8);
    EXPECT_EQ(ledger.cassettes[1].type, kSimEscrowCassetteType);
    EXPECT_EQ(ledger.cassettes[2].type, kSimUnassignedType);
    EXPECT_TRUE(ledger.Balanced());
}

TEST(SimDispense, TakenByItselfAfterTheTakeTime)
{
    SimOptions options = SimHarness::FastOptions();
    options.takeTimeoutSeconds = 5; // 50 ms at this pace
    SimHarness sim(options);
    sim.Ready(0, 0);
    sim.Send({ 0x3C, 0, 2 });
    EXPECT_EQ(sim.TraceUntil(0x25), (States { 0x1D, 0x25 }));
    EXPECT_EQ(sim.Ledger().dispensed, 2);
}

TEST(SimDispense, RequestItCannotMeetIsInvalidBillNumber)
{
    SimHarness sim;
    sim.Ready(0, 0);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0x3C, 2, 11 })));
    EXPECT_EQ(sim.TraceUntil(0x19), (States { 0x28, 0x19 }));
    sim.Send({ 0x3C, 6, 1 }); // no cassette holds type 6
    EXPECT_EQ(sim.Poll(), 0x28);
    EXPECT_EQ(sim.Ledger().cassettes[2].count, 10);
}

TEST(SimDispense, MalformedOrBusyRequestIsInvalid)
{
    SimHarness sim;
    sim.Ready();
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x3C, 2 })));
    sim.Control("insert 1");
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x3C, 2, 1 })));
}

TEST(SimUnload, MovesBillsToTheDropBox)
{
    SimHarness sim;
    sim.Ready(0, 0);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0x3D, 2, 4 })));
    EXPECT_EQ(sim.TraceUntil(0x26), (States { 0x1E, 0x26 }));
    EXPECT_EQ(sim.Detail(), 4) << "UNLOADED carries the number unloaded";
    SimLedger ledger = sim.Ledger();
    EXPECT_EQ(ledger.cassettes[1].count, 6);
    EXPECT_EQ(ledger.dropBox, 4);
    EXPECT_TRUE(ledger.Balanced());
}

TEST(SimUnload, NotEnoughBillsShowsInUnloading)
{
    SimHarness sim;
    sim.Ready(0, 0);
    sim.Send({ 0x3D, 1, 25 });
    ASSERT_TRUE(sim.PollUntil(0x1E));
    EXPECT_NE(sim.Detail(), 0);
    ASSERT_TRUE(sim.PollUntil(0x26));
    EXPECT_EQ(sim.Detail(), 10);
    EXPECT_EQ(sim.Ledger().cassettes[0].count, 0);
}

TEST(SimUnload, UnknownCassetteIsInvalid)
{
    SimHarness sim;
    sim.Ready(0, 0);
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x3D, 4, 1 })));
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x3D, 0, 1 })));
}

TEST(SimCassetteType, SettingThenSet)
{
    SimHarness sim;
    sim.Ready(0, 0);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0x40, 3, 0x85 })));
    EXPECT_EQ(sim.TraceUntil(0x19), (States { 0x21, 0x29, 0x19 }));
    SimLedger ledger = sim.Ledger();
    EXPECT_EQ(ledger.cassettes[2].type, 5);
    EXPECT_EQ(ledger.cassettes[2].count, 0) << "bills of the old type leave for the drop box";
    EXPECT_EQ(ledger.dropBox, 10);
    EXPECT_TRUE(ledger.Balanced());
}

TEST(SimCassetteType, EscrowAndUnassignedForms)
{
    SimHarness sim;
    sim.Ready(0, 0);
    sim.Send({ 0x40, 1, 0x38 });
    ASSERT_TRUE(sim.PollUntil(0x19));
    sim.Send({ 0x40, 2, 0x5F });
    ASSERT_TRUE(sim.PollUntil(0x19));
    Bytes status = sim.Send({ 0x3B });
    ASSERT_EQ(status.size(), 11u);
    EXPECT_EQ(status[3], 0x98);
    EXPECT_EQ(status[5], 0x9F);
    EXPECT_TRUE(SimHarness::IsInvalid(sim.Send({ 0x40, 1, 0x1A })));
}

// ---- Power cuts ------------------------------------------------------------

TEST(SimPowerCut, WhileStackingCreditsTheBillOnce)
{
    SimHarness sim;
    sim.Ready(0x7F, 0);
    sim.Control("insert 2");
    ASSERT_TRUE(sim.PollUntil(0x17));
    EXPECT_EQ(sim.Control("power-cut").rfind("ok: power cut while STACKING", 0), 0u);
    EXPECT_EQ(sim.Poll(), 0x12);
    SimLedger ledger = sim.Ledger();
    EXPECT_EQ(ledger.cassettes[2].count, 11);
    EXPECT_TRUE(ledger.Balanced());
    sim.Send({ 0x30 });
    EXPECT_EQ(sim.Send({ 0x66 }), MakeFrame(1, { 0x17, 2, 3 }));
    EXPECT_EQ(sim.Send({ 0x66 }), MakeFrame(1, { 0x00 })) << "a record is told once";
}

TEST(SimPowerCut, WhileDispensingKeepsBillsInTheDispenser)
{
    SimHarness sim;
    sim.Ready(0, 0);
    sim.Send({ 0x3C, 1, 3 });
    ASSERT_TRUE(sim.PollUntil(0x1D));
    sim.Wait(100);
    ASSERT_EQ(sim.Poll(), 0x1D);
    ASSERT_EQ(sim.Detail(), 1);
    sim.Control("power-cut");
    EXPECT_EQ(sim.Poll(), 0x10);
    EXPECT_EQ(sim.Send({ 0x66 }), MakeFrame(1, { 0x3C, 0x81, 3, 1, 3 }));
    EXPECT_EQ(sim.Ledger().inDispenser, 3);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0x67 })));
    SimLedger ledger = sim.Ledger();
    EXPECT_EQ(ledger.inDispenser, 0);
    EXPECT_EQ(ledger.dropBox, 3);
    EXPECT_TRUE(ledger.Balanced());
}

TEST(SimPowerCut, WhileUnloadingTellsWhatWasUnloaded)
{
    SimOptions options = SimHarness::FastOptions();
    options.pace = 1;
    SimHarness sim(options);
    sim.Ready(0, 0);
    sim.Send({ 0x3D, 1, 10 });
    ASSERT_TRUE(sim.PollUntil(0x1E));
    sim.Wait(600); // about half of the 1.3 s unload
    sim.Control("power-cut");
    Bytes record = sim.Send({ 0x66 });
    ASSERT_EQ(record.size(), 10u);
    EXPECT_EQ(record[3], 0x3D);
    EXPECT_EQ(record[4], 1);
    EXPECT_EQ(record[5], 10);
    EXPECT_EQ(record[6], 0);
    SimLedger ledger = sim.Ledger();
    EXPECT_EQ(record[7], ledger.dropBox);
    EXPECT_GT(ledger.dropBox, 0);
    EXPECT_LT(ledger.dropBox, 10);
    EXPECT_EQ(ledger.cassettes[0].count, 10 - ledger.dropBox);
}

TEST(SimPowerCut, BillInChannelIsReturnedByReset)
{
    SimHarness sim;
    sim.Ready();
    sim.Control("insert 1");
    ASSERT_TRUE(sim.PollUntil(0x80));
    sim.Control("power-cut");
    EXPECT_EQ(sim.Poll(), 0x11);
    EXPECT_EQ(sim.Ledger().inChannel, 1);
    sim.Send({ 0x30 });
    SimLedger ledger = sim.Ledger();
    EXPECT_EQ(ledger.inChannel, 0);
    EXPECT_EQ(ledger.returned, 1);
    EXPECT_EQ(sim.Send({ 0x66 }), MakeFrame(1, { 0x00 }));
}

// ---- Faults ----------------------------------------------------------------

TEST(SimFaults, SilentAnswersNothing)
{
    SimHarness sim;
    sim.Control("silent on");
    EXPECT_TRUE(sim.Send({ 0x33 }).empty());
    EXPECT_TRUE(sim.Send({ 0x30 }).empty());
    sim.Control("silent off");
    EXPECT_EQ(sim.Poll(), 0x10) << "the RESET sent while silent was not carried out";
}

TEST(SimFaults, NakRefusesTheNextCommandOnly)
{
    SimHarness sim;
    sim.Control("nak next");
    EXPECT_EQ(sim.Send({ 0x30 }), MakeFrame(1, { 0xFF }));
    EXPECT_EQ(sim.Poll(), 0x10);
    EXPECT_TRUE(SimHarness::IsAck(sim.Send({ 0x30 })));
}

TEST(SimFaults, CorruptReplyHasAWrongCheckCodeAndIsNotCountedAsSeen)
{
    SimHarness sim;
    sim.Ready(0x7F, 0);
    sim.Control("insert 0");
    sim.Control("corrupt next");
    Bytes damaged = sim.Send({ 0x33 });
    ASSERT_EQ(damaged.size(), 6u);
    EXPECT_EQ(damaged[3], 0x15);
    EXPECT_FALSE(SimHarness::CheckCodeHolds(damaged));
    sim.Wait(1000);
    EXPECT_EQ(sim.Poll(), 0x15) << "ACCEPTING still owed to the host";
    EXPECT_TRUE(SimHarness::CheckCodeHolds(sim.last));
}

TEST(SimFaults, GarbageHasNoSyncByte)
{
    SimHarness sim;
    sim.Control("garbage next");
    Bytes noise = sim.Send({ 0x37 });
    ASSERT_GE(noise.size(), 6u);
    for (std::uint8_t byte : noise)
        EXPECT_NE(byte, 0x02);
    EXPECT_TRUE(SimHarness::CheckCodeHolds(sim.Send({ 0x37 })));
}

TEST(SimFaults, BusyHidesTheStateForAWhile)
{
    SimHarness sim;
    sim.Ready();
    sim.Control("busy 2");
    EXPECT_EQ(sim.Poll(), 0x1B);
    sim.Wait(1900);
    EXPECT_EQ(sim.Poll(), 0x1B);
    sim.Wait(200);
    EXPECT_EQ(sim.Poll(), 0x14);
}

TEST(SimFaults, FailureStaysUntilReset)
{
    SimHarness sim;
    sim.Ready();
    EXPECT_EQ(sim.Control("fail 47 52"), "ok: FAILURE until RESET");
    EXPECT_EQ(sim.Poll(), 0x47);
    EXPECT_EQ(sim.Detail(0), 0x52);
    EXPECT_EQ(sim.Detail(1), 0x00);
    sim.Wait(10000);
    EXPECT_EQ(sim.Poll(), 0x47);
    sim.Send({ 0x30 });
    EXPECT_EQ(sim.Poll(), 0x13);
}

TEST(SimFaults, JamWhereTheBillIs)
{
    SimHarness sim;
    sim.Ready(0x7F, 0);
    sim.Control("insert 0");
    ASSERT_TRUE(sim.PollUntil(0x17));
    EXPECT_EQ(sim.Control("jam"), "ok: JAM IN STACKER until RESET");
    sim.Wait(5000);
    EXPECT_EQ(sim.Poll(), 0x44);
    EXPECT_EQ(sim.Ledger().inChannel, 1);
    sim.Send({ 0x30 });
    SimLedger ledger = sim.Ledger();
    EXPECT_EQ(ledger.inChannel, 0);
    EXPECT_EQ(ledger.cassettes[0].count, 11) << "a reset finishes the stacking";
    EXPECT_TRUE(ledger.Balanced());
}

TEST(SimFaults, DropBoxOutUntilPutBack)
{
    SimHarness sim;
    sim.Ready();
    EXPECT_EQ(sim.Control("box-remove"), "ok: drop box removed");
    EXPECT_EQ(sim.Control("box-remove").rfind("error: box-remove:", 0), 0u);
    EXPECT_EQ(sim.Poll(), 0x42);
    sim.Send({ 0x30 });
    sim.Wait(100);
    EXPECT_EQ(sim.Poll(), 0x42) << "a reset does not bring the box back";
    sim.Control("box-insert");
    EXPECT_TRUE(sim.PollUntil(0x19));
}

// ---- The line ----------------------------------------------------------------

TEST(SimLine, HostAcknowledgementsAndForeignAddressesGetNothing)
{
    SimHarness sim;
    EXPECT_TRUE(sim.Send({ 0x00 }).empty());
    EXPECT_TRUE(sim.Send({ 0xFF }).empty());
    EXPECT_TRUE(sim.Send(3, { 0x33 }).empty());
    EXPECT_TRUE(sim.Send(4, { 0x33 }).empty()) << "no card reader unless asked for";
    EXPECT_EQ(sim.device.Snapshot(sim.now).exchangesAnswered, 0u);
}

TEST(SimLine, UnknownCommandIsInvalid)
{
    SimHarness sim;
    EXPECT_EQ(sim.Send({ 0x50 }), MakeFrame(1, { 0x30 }));
    EXPECT_EQ(sim.Send({ 0xAB, 1, 2 }), MakeFrame(1, { 0x30 }));
}

} // namespace
} // namespace orvex::test
