#include "DeviceFixture.h"

#include <chrono>
#include <thread>

namespace orvex::test {
namespace {

using namespace std::chrono_literals;

// A Cyclor unit that disables on a BILL TYPE with nothing enabled and
// reports three cassettes.
class Cassettes : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        bus.SetState(kCy, 0x14);
        bus.AckThen(kCy, 0x34, 0x19);
        bus.On(kCy, 0x31, [](const Bytes&) { return Bytes(9, 0x00); });
        bus.On(kCy, 0x3B, [](const Bytes&) { return Bytes { 0x98, 0x0A, 0x83, 0x07, 0x05, 0x00, 0x9F, 0x01 }; });
    }

    static std::vector<CassetteRecord> Marked()
    {
        std::vector<CassetteRecord> records(kCassettes);
        for (auto& record : records) {
            record.value = 2.5;
            record.country = "KEEP";
        }
        return records;
    }
};

TEST_F(Cassettes, ValidatorHasNoneAndNothingIsSent)
{
    auto records = Marked();
    EXPECT_EQ(device.GetCassettes(records.data(), kBv), 0);
    for (int i = 0; i < kCassettes; ++i) {
        EXPECT_EQ(records[i].status, 250);
        EXPECT_EQ(records[i].billType, i);
        EXPECT_EQ(records[i].billCount, 0);
        EXPECT_EQ(records[i].escrowMark, 0);
    }
    EXPECT_TRUE(peer.Frames().empty());
}

TEST_F(Cassettes, CopiesTheUnitsTable)
{
    auto records = Marked();
    EXPECT_EQ(device.GetCassettes(records.data(), kCy), 0);
    EXPECT_EQ(Codes(kCy), CodeList({ 0x31, 0x3B }));
    EXPECT_EQ(records[0].status, 252); // the escrow cassette
    EXPECT_EQ(records[0].billType, 24);
    EXPECT_EQ(records[0].billCount, 10);
    EXPECT_EQ(records[0].escrowMark, 1);
    EXPECT_EQ(records[1].status, 0);
    EXPECT_EQ(records[1].billType, 3);
    EXPECT_EQ(records[1].billCount, 7);
    EXPECT_EQ(records[2].status, 254); // not present
    EXPECT_EQ(records[3].status, 253); // present, type 31
    EXPECT_EQ(records[15].status, 254);
    for (const auto& record : records) {
        EXPECT_DOUBLE_EQ(record.value, 2.5);
        EXPECT_EQ(record.country, "KEEP");
    }
}

TEST_F(Cassettes, FailedReadMarksEveryCassetteUnknown)
{
    bus.On(kCy, 0x3B, [](const Bytes&) { return Bytes { 0x30 }; });
    auto records = Marked();
    EXPECT_EQ(device.GetCassettes(records.data(), kCy), -6);
    for (const auto& record : records) {
        EXPECT_EQ(record.status, 254);
        EXPECT_EQ(record.billType, 255);
        EXPECT_EQ(record.billCount, 0);
        EXPECT_EQ(record.country, "KEEP");
    }
}

TEST_F(Cassettes, BusyUnitIsNotRead)
{
    bus.SetState(kCy, 0x17);
    auto records = Marked();
    EXPECT_EQ(device.GetCassettes(records.data(), kCy), -10000);
    EXPECT_TRUE(Codes(kCy).empty());
    EXPECT_EQ(records[0].status, 254);
}

TEST_F(Cassettes, CassetteTypeBytes)
{
    struct Case {
        int flags;
        std::uint8_t typeByte;
    } cases[] { { 0x40, 0x38 }, { 0x85, 0x5F }, { 0x05, 0x85 }, { 0x4F, 0x38 } };
    bus.AckThen(kCy, 0x40, 0x29);
    for (const Case& test : cases) {
        peer.ClearFrames();
        EXPECT_EQ(device.SetCassetteType(2, test.flags), 0);
        auto commands = peer.Commands();
        ASSERT_GE(commands.size(), 3u);
        EXPECT_EQ(commands[0][3], 0x33);
        EXPECT_EQ(commands[1][3], 0x33);
        const Bytes& set = commands[2];
        ASSERT_EQ(set.size(), 8u);
        EXPECT_EQ(set[3], 0x40);
        EXPECT_EQ(set[4], 3);
        EXPECT_EQ(set[5], test.typeByte) << std::hex << test.flags;
    }
}

TEST_F(Cassettes, CassetteTypeWaitsThroughTheChange)
{
    bus.On(kCy, 0x40, [this](const Bytes&) {
        bus.QueueStates(kCy, { { 0x21, 0, 0 }, { 0x21, 0, 0 }, { 0x29, 0, 0 }, { 0x14, 0, 0 } });
        return Bytes { 0x00 };
    });
    EXPECT_EQ(device.SetCassetteType(0, 0x40), 0);
    EXPECT_EQ(device.GetLastPoll().state, 0x14);
    EXPECT_EQ(Codes(kCy, true), CodeList({ 0x33, 0x33, 0x40, 0x33, 0x33, 0x33, 0x33 }));
}

TEST_F(Cassettes, CassetteTypeRefusals)
{
    EXPECT_EQ(device.SetCassetteType(16, 0x40), -6);
    EXPECT_EQ(device.SetCassetteType(-1, 0x40), -6);
    EXPECT_TRUE(peer.Frames().empty());
    bus.On(kCy, 0x40, [](const Bytes&) { return Bytes { 0xFF }; });
    EXPECT_EQ(device.SetCassetteType(0, 0x40), -5);
}

TEST_F(Cassettes, UnloadTakesTheLastCassetteWithACount)
{
    bus.On(kCy, 0x3D, [this](const Bytes&) {
        bus.QueueStates(kCy, { { 0x1E, 0, 0 }, { 0x26, 0, 0 }, { 0x19, 0, 0 } });
        return Bytes { 0x00 };
    });
    std::uint8_t counts[kCassettes] {};
    counts[2] = 3;
    counts[9] = 5;
    EXPECT_EQ(device.Unload(counts), 0);
    EXPECT_EQ(Codes(kCy), CodeList({ 0x34, 0x31, 0x31, 0x3B, 0x3D, 0x31, 0x3B }));
    for (const Bytes& frame : peer.Commands())
        if (frame[3] == 0x3D) {
            EXPECT_EQ(Bytes(frame.begin() + 4, frame.begin() + 6), Bytes({ 10, 5 }));
        }
}

// UNLOADED tells the bills moved: none given (0) or the number asked is a
// success, any other number an execution error; the cassettes are read
// afterwards in every case.
TEST_F(Cassettes, UnloadJudgesTheCountOfUnloaded)
{
    struct Case {
        std::uint8_t unloaded;
        int result;
    };
    for (auto [unloaded, result] : { Case { 0, 0 }, Case { 3, 0 }, Case { 2, -7 }, Case { 4, -7 } }) {
        bus.On(kCy, 0x3D, [this, unloaded = unloaded](const Bytes&) {
            bus.QueueStates(kCy, { { 0x1E, 0, 0 }, { 0x26, unloaded, 0 }, { 0x19, 0, 0 } });
            return Bytes { 0x00 };
        });
        std::uint8_t counts[kCassettes] {};
        counts[0] = 3;
        EXPECT_EQ(device.Unload(counts), result) << int(unloaded);
        EXPECT_EQ(Codes(kCy).back(), 0x3B) << int(unloaded);
    }
}

TEST_F(Cassettes, UnloadWithNothingToDoSendsNoUnload)
{
    std::uint8_t counts[kCassettes] {};
    EXPECT_EQ(device.Unload(counts), 0);
    EXPECT_EQ(CountCode(peer, kCy, 0x3D), 0);
}

TEST_F(Cassettes, UnloadThatNeverFinishesIsNoSuccess)
{
    std::atomic<std::uint8_t> stop { 0 };
    device.SetStopFlag(&stop);
    bus.On(kCy, 0x3D, [this](const Bytes&) {
        bus.SetState(kCy, 0x1E);
        return Bytes { 0x00 };
    });
    std::uint8_t counts[kCassettes] {};
    counts[1] = 4;
    std::thread stopper([&] {
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (CountCode(peer, kCy, 0x3D) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        std::this_thread::sleep_for(100ms);
        stop = 1;
    });
    EXPECT_EQ(device.Unload(counts), -1000);
    stopper.join();
    EXPECT_EQ(Codes(kCy).back(), 0x3D);
    device.SetStopFlag(nullptr);
}

TEST_F(Cassettes, UnloadRefusedGivesItsCode)
{
    bus.On(kCy, 0x3D, [](const Bytes&) { return Bytes { 0x30 }; });
    std::uint8_t counts[kCassettes] {};
    counts[0] = 1;
    EXPECT_EQ(device.Unload(counts), -6);
}

TEST_F(Cassettes, DispenseWaitsForDispensed)
{
    bus.On(kCy, 0x3C, [this](const Bytes&) {
        bus.QueueStates(kCy, { { 0x1D, 0, 0 }, { 0x1D, 0, 0 }, { 0x25, 0, 0 }, { 0x19, 0, 0 } });
        return Bytes { 0x00 };
    });
    std::uint8_t request[25] {};
    request[3] = 2;
    request[24] = 1;
    EXPECT_EQ(device.Dispense(request), 0);
    EXPECT_EQ(Codes(kCy), CodeList({ 0x31, 0x3B, 0x34, 0x31, 0x3C, 0x31, 0x3B }));
    for (const Bytes& frame : peer.Commands())
        if (frame[3] == 0x3C) {
            EXPECT_EQ(Bytes(frame.begin() + 2, frame.end() - 2), Bytes({ 10, 0x3C, 3, 2, 24, 1 }));
        }
}

TEST_F(Cassettes, DispenseFailureStates)
{
    bus.AckThen(kCy, 0x3C, 0x28);
    std::uint8_t request[25] {};
    request[0] = 1;
    EXPECT_EQ(device.Dispense(request), -7);

    bus.SetState(kCy, 0x14);
    bus.AckThen(kCy, 0x3C, 0x45);
    EXPECT_EQ(device.Dispense(request), -10000);
}

TEST_F(Cassettes, DispenseStopsWhenTheCassettesCannotBeRead)
{
    bus.On(kCy, 0x3B, [](const Bytes&) { return Bytes { 0x30 }; });
    std::uint8_t request[25] {};
    request[0] = 1;
    EXPECT_EQ(device.Dispense(request), -6);
    EXPECT_EQ(CountCode(peer, kCy, 0x3C), 0);
}

TEST_F(Cassettes, EscrowedBillIsReturnedBeforeCassetteWork)
{
    bus.SetState(kCy, 0x80);
    bus.On(kCy, 0x36, [this](const Bytes&) {
        bus.QueueStates(kCy, { { 0x18, 0, 0 }, { 0x82, 0, 0 }, { 0x14, 0, 0 } });
        return Bytes { 0x00 };
    });
    std::uint8_t counts[kCassettes] {};
    EXPECT_EQ(device.Unload(counts), 0);
    auto codes = Codes(kCy);
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes[0], 0x36);
    EXPECT_EQ(codes[1], 0x34);
}

} // namespace
} // namespace orvex::test
