#include "SimHarness.h"

#include <random>

namespace orvex::test {
namespace {

// A long random mix of host commands, customer actions and faults; after
// every step each bill must be in exactly one place and no cassette may go
// below zero or above its capacity.
TEST(SimConservation, LongRandomRunKeepsEveryBill)
{
    SimOptions options = SimHarness::FastOptions();
    options.cardReader = true;
    options.escrowTimeoutSeconds = 0.3;
    options.takeTimeoutSeconds = 20;
    options.cassettes = { { { 0, 40, 45 }, { 1, 3, 5 }, { 2, 0, 30 } } };
    SimHarness sim(options);
    std::mt19937 random(20240601);
    auto pick = [&](int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); };
    auto byte = [&](int low, int high) { return static_cast<std::uint8_t>(std::uniform_int_distribution<int>(low, high)(random)); };

    const char* controls[] = { "take", "take", "take", "jam", "box-remove", "box-insert", "power-cut", "corrupt next",
        "garbage next", "nak next", "busy 0.05", "fail 47", "insert-barcode 12345" };
    long stackedSeen = 0;
    for (int step = 0; step < 20000; ++step) {
        int action = pick(1000);
        if (action < 300) {
            sim.Poll();
            if (sim.last.size() >= 6 && sim.last[3] == 0x81)
                ++stackedSeen;
        } else if (action < 420) {
            sim.Control("insert " + std::to_string(pick(24)));
        } else if (action < 450) {
            sim.Send({ 0x30 });
        } else if (action < 510) {
            std::uint8_t enable = pick(5) ? std::uint8_t(0x7F) : byte(0, 255);
            sim.Send({ 0x34, 0, 0, enable, 0, 0, byte(0, 255) });
        } else if (action < 610) {
            sim.Send({ pick(2) ? std::uint8_t(0x35) : std::uint8_t(0x36) });
        } else if (action < 660) {
            sim.Send({ 0x3C, byte(0, 2), byte(1, 4), byte(0, 3), byte(0, 1) });
        } else if (action < 690) {
            sim.Send({ 0x3D, byte(0, 4), byte(0, 20) });
        } else if (action < 700) {
            sim.Send({ 0x40, byte(1, 3), byte(0x80, 0x83) });
        } else if (action < 720) {
            sim.Send({ 0x67 });
        } else if (action < 740) {
            sim.Send({ 0x66 });
        } else if (action < 780) {
            sim.Control(controls[pick(static_cast<int>(std::size(controls)))]);
        } else if (action < 785) {
            sim.Control("silent on");
        } else if (action < 815) {
            sim.Control("silent off");
        } else if (action < 835) {
            Bytes noise(static_cast<std::size_t>(byte(0, 12)));
            for (auto& value : noise)
                value = byte(0, 255);
            noise.insert(noise.begin(), { 0x33 });
            sim.Send(noise);
        } else {
            sim.Wait(pick(400));
        }
        sim.Wait(pick(30));
        sim.device.Advance(sim.now);
        SimLedger ledger = sim.Ledger();
        ASSERT_TRUE(ledger.Balanced()) << "step " << step << ": " << sim.device.StateLine(sim.now);
    }
    SimLedger ledger = sim.Ledger();
    // The run must have moved money around, not sat in one state.
    EXPECT_GT(ledger.inserted, 100);
    EXPECT_GT(stackedSeen, 10);
    EXPECT_GT(ledger.returned, 10);
    EXPECT_GT(ledger.dispensed + ledger.unloaded, 10);
}

} // namespace
} // namespace orvex::test
