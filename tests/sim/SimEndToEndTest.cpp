#include "device/CKRMSInterface.h"
#include "link/CPortTable.h"
#include "sim/CSimulator.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

namespace orvex::test {
namespace {

using namespace std::chrono_literals;

// The device interface with its recovery queue in view.
class CTestInterface : public CKRMSInterface {
public:
    using CKRMSInterface::CKRMSInterface;
    std::uint8_t RecoveryState() const { return m_recoveryState; }
};

SimOptions EndToEndOptions(double pace)
{
    SimOptions options;
    options.pace = pace;
    options.takeTimeoutSeconds = 0; // the test takes the bills itself
    options.escrowTimeoutSeconds = 30;
    return options;
}

// The project's engine and device interface against the virtual peripheral
// over a real pseudo-terminal.
class SimEndToEnd : public ::testing::Test {
protected:
    void Start(SimOptions options)
    {
        simulator = std::make_unique<CSimulator>(options);
        std::string slave = simulator->StartPty();
        ASSERT_FALSE(slave.empty()) << simulator->LastError();
        device = std::make_unique<CTestInterface>(CPortTable({ slave }));
        ASSERT_NE(device->OpenPort(0, 200), 0) << slave;
        device->SetIntercommandInterval(0);
        device->SetPollInterval(15);
    }

    void TearDown() override
    {
        device.reset();
        if (simulator)
            simulator->Stop();
    }

    SimLedger Ledger() const { return simulator->Snapshot().ledger; }

    // A bill goes in only while the unit idles; right after STACKED or
    // RETURNED it needs a moment to get there.
    std::string InsertWhenIdle(int type)
    {
        for (int turn = 0; turn < 600 && simulator->Snapshot().state != 0x14; ++turn)
            std::this_thread::sleep_for(5ms);
        return simulator->Control("insert " + std::to_string(type));
    }

    // Polls through the device interface until the state (and sub-state,
    // when given) shows; bounded.
    bool PollUntil(int state, int subState = -1)
    {
        for (int turn = 0; turn < 400; ++turn) {
            int got = 0;
            int sub = 0;
            if (device->Poll(got, sub, 1) == 0 && got == state && (subState < 0 || sub == subState))
                return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    std::unique_ptr<CSimulator> simulator;
    std::unique_ptr<CTestInterface> device;
};

TEST_F(SimEndToEnd, EverySequenceSucceedsAndTheLedgerAgrees)
{
    SimOptions options = EndToEndOptions(0.02);
    options.clockOffsetHours = 5; // InitRecycler must set the clock
    Start(options);

    EXPECT_EQ(device->InitRecycler(0, 0, 0, 1, 1), 0);
    EXPECT_EQ(simulator->Snapshot().stateName, "DISABLED");
    EXPECT_EQ(device->GetDeviceText(), "USD");
    std::time_t unitTime = 0;
    ASSERT_TRUE(device->GetProtocol()->GetCyTime(unitTime));
    EXPECT_LT(std::abs(std::difftime(unitTime, std::time(nullptr))), 120.0) << "clock set to the PC's";

    std::uint32_t enabled = 0x7F;
    EXPECT_EQ(device->EnableBills(enabled, 0x7F, 1), 0);
    EXPECT_EQ(enabled, 0x7Fu);
    EXPECT_EQ(simulator->Snapshot().stateName, "IDLING");

    // A 5 (type 2) stacked into cassette 3, where type 2 lives.
    EXPECT_EQ(InsertWhenIdle(2).rfind("ok:", 0), 0u);
    EXPECT_EQ(device->StackBill(1), 0);
    SimLedger ledger = Ledger();
    EXPECT_EQ(ledger.cassettes[2].count, 11);
    EXPECT_EQ(ledger.inserted, 1);

    // A 2 (type 1) returned from escrow.
    EXPECT_EQ(InsertWhenIdle(1).rfind("ok:", 0), 0u);
    EXPECT_EQ(device->ReturnBill(1), 0);
    ledger = Ledger();
    EXPECT_EQ(ledger.returned, 1);
    EXPECT_EQ(ledger.cassettes[1].count, 10);

    // Two 1s paid out; the customer takes them while the unit waits.
    std::atomic<bool> done { false };
    std::thread customer([&] {
        for (int turn = 0; turn < 1000 && !done; ++turn) {
            if (simulator->Snapshot().ledger.inDispenser > 0) {
                simulator->Control("take");
                return;
            }
            std::this_thread::sleep_for(5ms);
        }
    });
    std::array<std::uint8_t, 25> request {};
    request[0] = 2;
    EXPECT_EQ(device->Dispense(request.data()), 0);
    done = true;
    customer.join();
    ledger = Ledger();
    EXPECT_EQ(ledger.dispensed, 2);
    EXPECT_EQ(ledger.cassettes[0].count, 8);

    // Four bills from cassette 2 into the drop box: UNLOADED tells 4, the
    // number asked, so the unload succeeded.
    std::array<std::uint8_t, 16> counts {};
    counts[1] = 4;
    EXPECT_EQ(device->Unload(counts.data()), 0);
    ledger = Ledger();
    EXPECT_EQ(ledger.cassettes[1].count, 6);
    EXPECT_EQ(ledger.dropBox, 4);

    // Cassette 3 becomes a type 5 cassette; its bills go to the drop box.
    EXPECT_EQ(device->SetCassetteType(2, 5), 0);
    ledger = Ledger();
    EXPECT_EQ(ledger.cassettes[2].type, 5);
    EXPECT_EQ(ledger.cassettes[2].count, 0);
    EXPECT_EQ(ledger.dropBox, 15);

    std::array<CassetteRecord, 16> records {};
    EXPECT_EQ(device->GetCassettes(records.data(), 1), 0);
    EXPECT_EQ(records[0].billCount, 8);
    EXPECT_EQ(records[1].billCount, 6);
    EXPECT_EQ(records[2].billType, 5);

    // Power fails while a bill waits in the dispenser: POWER RECOVERY in
    // InitRecycler tells of it and EMPTY DISPENSER moves it to the box.
    ASSERT_TRUE(device->GetProtocol()->Dispense(std::array<std::uint8_t, 25> { 0, 1 }.data()));
    ASSERT_TRUE(PollUntil(0x1D, 1));
    EXPECT_EQ(simulator->Control("power-cut").rfind("ok: power cut while DISPENSING", 0), 0u);
    EXPECT_EQ(Ledger().inDispenser, 1);
    EXPECT_EQ(device->InitRecycler(0, 0, 0, 1, 1), 0);
    EXPECT_EQ(device->RecoveryState(), 0x3C);
    ledger = Ledger();
    EXPECT_EQ(ledger.inDispenser, 0);
    EXPECT_EQ(ledger.dropBox, 16);
    EXPECT_EQ(ledger.cassettes[1].count, 5);
    EXPECT_TRUE(ledger.Balanced());
    EXPECT_GT(simulator->ExchangesAnswered(), 50u);
}

TEST_F(SimEndToEnd, PowerCutWhileStackingIsCreditedThroughRecovery)
{
    Start(EndToEndOptions(0.5)); // stacking lasts 400 ms: time to cut it
    ASSERT_EQ(device->InitRecycler(0, 0, 0, 1, 1), 0);
    std::uint32_t enabled = 0x7F;
    ASSERT_EQ(device->EnableBills(enabled, 0, 1), 0);
    ASSERT_EQ(InsertWhenIdle(0).rfind("ok:", 0), 0u);
    ASSERT_TRUE(PollUntil(0x17));
    EXPECT_EQ(simulator->Control("power-cut").rfind("ok: power cut while STACKING", 0), 0u);
    int state = 0;
    int sub = 0;
    EXPECT_EQ(device->Poll(state, sub, 1), 0);
    EXPECT_EQ(state, 0x12);
    EXPECT_EQ(device->InitRecycler(0, 0, 0, 1, 1), 0);
    EXPECT_EQ(device->RecoveryState(), 0x17);
    EXPECT_EQ(device->NextRecoveryEvent(), 0x0017 + (0 << 8)) << "bill type 0 packed";
    EXPECT_EQ(device->NextRecoveryEvent(), 0);
    SimLedger ledger = Ledger();
    EXPECT_EQ(ledger.cassettes[0].count, 11);
    EXPECT_TRUE(ledger.Balanced());
}

TEST_F(SimEndToEnd, ValidatorInitialisesAndStacks)
{
    SimOptions options = EndToEndOptions(0.02);
    options.device = SimDeviceKind::Validator;
    Start(options);
    EXPECT_EQ(device->InitValidator(3), 0);
    EXPECT_EQ(simulator->Snapshot().stateName, "DISABLED");
    std::uint32_t enabled = 0x04;
    EXPECT_EQ(device->EnableBills(enabled, 0x04, 3), 0);
    ASSERT_EQ(InsertWhenIdle(2).rfind("ok:", 0), 0u);
    EXPECT_EQ(device->StackBill(3), 0);
    EXPECT_EQ(Ledger().dropBox, 1);
}

TEST_F(SimEndToEnd, FaultsReachTheEngineAsItsOwnErrors)
{
    Start(EndToEndOptions(0.02));
    CKRMSProtocol& protocol = *device->GetProtocol();
    simulator->Control("corrupt next");
    EXPECT_FALSE(protocol.Identification(1));
    EXPECT_EQ(protocol.GetLastResultCode(), -4);
    simulator->Control("garbage next");
    EXPECT_FALSE(protocol.Identification(1));
    EXPECT_EQ(protocol.GetLastResultCode(), -2);
    simulator->Control("nak next");
    EXPECT_FALSE(protocol.Reset(1));
    EXPECT_EQ(protocol.GetLastResultCode(), -5);
    simulator->Control("silent on");
    EXPECT_FALSE(protocol.Poll(1));
    EXPECT_EQ(protocol.GetLastResultCode(), -1);
    simulator->Control("silent off");
    EXPECT_TRUE(protocol.Identification(1));
    EXPECT_EQ(protocol.GetPartNumber(), "CY-300-USD");
}

} // namespace
} // namespace orvex::test
