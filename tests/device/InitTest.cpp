#include "DeviceFixture.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>

namespace orvex::test {
namespace {

using namespace std::chrono_literals;

std::uint8_t Bcd(int value)
{
    return static_cast<std::uint8_t>((value / 10) << 4 | value % 10);
}

Bytes ClockData(std::time_t time)
{
    std::tm local {};
    localtime_r(&time, &local);
    return { Bcd(local.tm_sec), Bcd(local.tm_min), Bcd(local.tm_hour), static_cast<std::uint8_t>(local.tm_wday + 1),
        Bcd(local.tm_mday), Bcd(local.tm_mon + 1), Bcd(local.tm_year % 100) };
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// A unit that does what it is told at once: idle, disabled after a BILL
// TYPE with nothing enabled, initialising then disabled after RESET.
class Init : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        setenv("TZ", "UTC0", 1);
        tzset();
        SetClock(ClockData(std::time(nullptr)));
        for (std::uint8_t address : { kCy, kBv }) {
            bus.SetState(address, 0x14);
            bus.On(address, 0x34, [this, address](const Bytes& frame) {
                bool nothing = frame[4] == 0 && frame[5] == 0 && frame[6] == 0;
                bus.SetState(address, nothing ? 0x19 : 0x14);
                return Bytes { 0x00 };
            });
            bus.On(address, 0x30, [this, address](const Bytes&) {
                bus.SetState(address, 0x13);
                bus.QueueStates(address, { { 0x13, 0, 0 }, { 0x13, 0, 0 }, { 0x19, 0, 0 } });
                return Bytes { 0x00 };
            });
            bus.On(address, 0x37, [address](const Bytes&) {
                return Text(address == kCy ? "CY-RECYCLER-01" : "BV-VALIDATOR");
            });
            bus.On(address, 0x31, [](const Bytes&) { return Bytes(9, 0x00); });
            bus.On(address, 0x41, [](const Bytes&) {
                return Bytes { 0, 'X', 'X', 'X', 0, 5, 'E', 'U', 'R', 0x00, 1, 'E', 'U', 'R', 0x01 };
            });
        }
        bus.On(kCy, 0x3E, [](const Bytes&) { return Bytes { 0x01 }; });
        bus.On(kCy, 0x62, [this](const Bytes& frame) {
            if (frame[2] == 13)
                return Bytes { 0x00 };
            std::lock_guard lock(m_scriptMutex);
            return m_clock;
        });
        bus.On(kCy, 0x66, [this](const Bytes&) {
            std::lock_guard lock(m_scriptMutex);
            return m_recovery;
        });
        bus.On(kCy, 0x69, [](const Bytes&) { return Bytes { 0x60, 0, 0, 0 }; });
    }

    void TearDown() override
    {
        // Taking the lock orders the peer's last reads before the replies go.
        std::lock_guard lock(m_scriptMutex);
        m_clock.clear();
        m_recovery.clear();
    }

    int InitCyclor(int reset = 0)
    {
        return device.InitRecycler(0x00ABCD, 18, 0x60000001, kCy, reset);
    }

    void SetClock(Bytes data)
    {
        std::lock_guard lock(m_scriptMutex);
        m_clock = std::move(data);
    }
    void SetRecovery(Bytes data)
    {
        std::lock_guard lock(m_scriptMutex);
        m_recovery = std::move(data);
    }

    std::mutex m_scriptMutex; // guards the replies below, read on the peer's thread
    Bytes m_clock = ClockData(std::time(nullptr));
    Bytes m_recovery { 0x00 };
};

TEST_F(Init, ValidatorResetsAfterPowerUpAndDisablesAnIdleDevice)
{
    bus.SetState(kBv, 0x11);
    bus.On(kBv, 0x30, [this](const Bytes&) {
        bus.QueueStates(kBv, { { 0x13, 0, 0 }, { 0x14, 0, 0 } });
        return Bytes { 0x00 };
    });
    EXPECT_EQ(device.InitValidator(kBv), 0);
    EXPECT_EQ(Codes(kBv), CodeList({ 0x30, 0x34, 0x37 }));
    EXPECT_EQ(device.GetDeviceText(), "VALIDATOR");
}

TEST_F(Init, ValidatorAlreadyDisabledIsOnlyIdentified)
{
    bus.SetState(kBv, 0x19);
    EXPECT_EQ(device.InitValidator(kBv), 0);
    EXPECT_EQ(Codes(kBv), CodeList({ 0x37 }));
}

TEST_F(Init, ValidatorThatFailsAfterDisablingIsNotAccepted)
{
    bus.AckThen(kBv, 0x34, 0x45);
    EXPECT_EQ(device.InitValidator(kBv), -10000);
    EXPECT_EQ(Codes(kBv), CodeList({ 0x34 }));
}

// Every POLL succeeds but the state never comes: the last result code is
// 0, which must not read as a passed initialisation (docs/mends.md).
TEST_F(Init, ValidatorThatNeverGetsReadyIsNoSuccess)
{
    std::atomic<std::uint8_t> stop { 0 };
    device.SetStopFlag(&stop);
    bus.SetState(kBv, 0x1B);
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop = 1;
    });
    EXPECT_EQ(device.InitValidator(kBv), -1000);
    stopper.join();
    EXPECT_TRUE(Codes(kBv).empty()) << "nothing but POLLs sent";
    device.SetStopFlag(nullptr);
}

TEST_F(Init, SilentValidatorGivesTheTimeout)
{
    bus.SetSilent(kBv, true);
    EXPECT_EQ(device.InitValidator(kBv), -1);
}

TEST_F(Init, RecyclerRunsTheWholeSequence)
{
    EXPECT_EQ(InitCyclor(), 0);
    EXPECT_EQ(Codes(kCy), CodeList({ 0x34, 0x37, 0x32, 0x31, 0x41, 0x39, 0x3E, 0x62, 0x66, 0x69, 0x68 }));
    auto commands = peer.Commands();
    for (const Bytes& frame : commands) {
        if (frame[3] == 0x32) {
            EXPECT_EQ(Bytes(frame.begin() + 4, frame.begin() + 7), Bytes({ 0x00, 0xAB, 0xCD }));
        }
        if (frame[3] == 0x39) {
            EXPECT_EQ(Bytes(frame.begin() + 4, frame.begin() + 6), Bytes({ 1, 18 }));
        }
        if (frame[3] == 0x68) {
            EXPECT_EQ(Bytes(frame.begin() + 4, frame.begin() + 8), Bytes({ 0x60, 0x00, 0x00, 0x01 }));
        }
    }
    EXPECT_EQ(device.GetDeviceText(), "EUR");
    auto table = device.GetBillTable();
    EXPECT_FLOAT_EQ(table[1].value, 5.0f);
    EXPECT_FLOAT_EQ(table[2].value, 10.0f);
    EXPECT_FLOAT_EQ(table[3].value, 0.0f);
}

TEST_F(Init, RecyclerAtTheValidatorAddressSkipsTheCyclorCommands)
{
    EXPECT_EQ(device.InitRecycler(0, 18, 0, kBv, 0), 0);
    EXPECT_EQ(Codes(kBv), CodeList({ 0x34, 0x37, 0x32, 0x31, 0x41, 0x39 }));
    EXPECT_TRUE(Codes(kCy).empty());
}

TEST_F(Init, RecyclerResetUnlessInitialising)
{
    EXPECT_EQ(InitCyclor(1), 0);
    auto codes = Codes(kCy);
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(CodeList(codes.begin(), codes.begin() + 3), CodeList({ 0x30, 0x37, 0x32 }));

    peer.ClearFrames();
    bus.SetState(kCy, 0x13);
    bus.QueueStates(kCy, { { 0x13, 0, 0 }, { 0x13, 0, 0 }, { 0x19, 0, 0 } });
    EXPECT_EQ(InitCyclor(1), 0);
    codes = Codes(kCy);
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 0x37);
}

TEST_F(Init, RecyclerIgnoresARefusedBarcodeSettingOnly)
{
    bus.On(kCy, 0x39, [](const Bytes&) { return Bytes { 0x30 }; });
    EXPECT_EQ(InitCyclor(), 0);
    bus.On(kCy, 0x39, [](const Bytes&) { return Bytes { 0xFF }; });
    peer.ClearFrames();
    EXPECT_EQ(InitCyclor(), -5);
    EXPECT_EQ(Codes(kCy).back(), 0x39);
}

TEST_F(Init, RecyclerNeverReachingAStateIsNoSuccess)
{
    bus.SetState(kCy, 0x1B);
    EXPECT_EQ(InitCyclor(), -1000);
    EXPECT_TRUE(Codes(kCy).empty());
}

TEST_F(Init, RecyclerUnknownStateAfterResetIsNotAccepted)
{
    bus.AckThen(kCy, 0x30, 0x45);
    EXPECT_EQ(InitCyclor(1), -10000);
    EXPECT_EQ(Codes(kCy), CodeList({ 0x30 }));
}

TEST_F(Init, StopByteEndsTheLongWaitAfterReset)
{
    std::atomic<std::uint8_t> stop { 0 };
    device.SetStopFlag(&stop);
    bus.On(kCy, 0x30, [this](const Bytes&) {
        bus.SetState(kCy, 0x13);
        return Bytes { 0x00 };
    });
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop = 1;
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InitCyclor(1), -1000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    stopper.join();
    EXPECT_EQ(Codes(kCy), CodeList({ 0x30 }));
    device.SetStopFlag(nullptr);
}

TEST_F(Init, ClockWithinTheHourIsLeftAlone)
{
    SetClock(ClockData(std::time(nullptr) - 1800));
    EXPECT_EQ(device.CheckClock(), 0);
    EXPECT_EQ(Codes(kCy), CodeList({ 0x62 }));
}

TEST_F(Init, ClockOffByHoursIsSet)
{
    for (int offset : { -7200, 3 * 3600 + 5 }) {
        peer.ClearFrames();
        SetClock(ClockData(std::time(nullptr) + offset));
        EXPECT_EQ(device.CheckClock(), 0);
        auto commands = peer.Commands();
        ASSERT_EQ(commands.size(), 2u);
        EXPECT_EQ(commands[1][2], 13);
    }
}

TEST_F(Init, ClockWithoutValidTimeIsSet)
{
    SetClock({ 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00 });
    EXPECT_EQ(device.CheckClock(), 0);
    auto commands = peer.Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1][2], 13);
}

TEST_F(Init, ClockRefusedGivesTheCode)
{
    SetClock({ 0x30 });
    EXPECT_EQ(device.CheckClock(), -6);
    EXPECT_EQ(Codes(kCy), CodeList({ 0x62 }));
    bus.On(kCy, 0x62, [](const Bytes& frame) { return frame[2] == 13 ? Bytes { 0xFF } : Bytes { 0, 0, 0, 1, 0, 0, 0 }; });
    EXPECT_EQ(device.CheckClock(), -5);
}

using NextRecoveryEvent = Init;

TEST_F(NextRecoveryEvent, DispensingEventsComeFromTheEnd)
{
    SetRecovery({ 0x1D, 0x01, 0x02, 0x03, 0x04 });
    ASSERT_EQ(InitCyclor(), 0);
    EXPECT_EQ(device.NextRecoveryEvent(), 0x03041D);
    EXPECT_EQ(device.NextRecoveryEvent(), 0x01021D);
    EXPECT_EQ(device.NextRecoveryEvent(), 0);
    EXPECT_EQ(device.NextRecoveryEvent(), 0);
}

TEST_F(NextRecoveryEvent, StackingEventsCarryOneByte)
{
    SetRecovery({ 0x17, 0xAA, 0xBB, 0xCC, 0xDD });
    ASSERT_EQ(InitCyclor(), 0);
    EXPECT_EQ(device.NextRecoveryEvent(), 0xCC17);
    EXPECT_EQ(device.NextRecoveryEvent(), 0xAA17);
    EXPECT_EQ(device.NextRecoveryEvent(), 0);
}

TEST_F(NextRecoveryEvent, LoneTrailingByteMakesNoEvent)
{
    SetRecovery({ 0x1D, 0x01, 0x02, 0x03 });
    ASSERT_EQ(InitCyclor(), 0);
    EXPECT_EQ(device.NextRecoveryEvent(), 0x02031D);
    EXPECT_EQ(device.NextRecoveryEvent(), 0);
}

TEST_F(NextRecoveryEvent, OtherStates)
{
    SetRecovery({ 0x1E, 0x01, 0x02 });
    ASSERT_EQ(InitCyclor(), 0);
    EXPECT_EQ(device.NextRecoveryEvent(), 0);

    SetRecovery({ 0x3C });
    peer.ClearFrames();
    ASSERT_EQ(InitCyclor(), 0);
    EXPECT_EQ(device.NextRecoveryEvent(), 0x3C);
    EXPECT_EQ(device.NextRecoveryEvent(), 0x3C);
    EXPECT_EQ(CountCode(peer, kCy, 0x67), 1); // the jam is cleared
}

TEST_F(NextRecoveryEvent, FailedRecoveryReplaysNothingOld)
{
    SetRecovery({ 0x1D, 0x01, 0x02, 0x03, 0x04 });
    ASSERT_EQ(InitCyclor(), 0);
    SetRecovery({ 0x30 });
    ASSERT_EQ(InitCyclor(), 0);
    EXPECT_EQ(device.NextRecoveryEvent(), 0);

    // More data than the 32-byte queue holds is refused, not cut.
    SetRecovery(Bytes(40, 0x1D));
    ASSERT_EQ(InitCyclor(), 0);
    EXPECT_EQ(device.NextRecoveryEvent(), 0);
}

} // namespace
} // namespace orvex::test
