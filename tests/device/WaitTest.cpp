#include "DeviceFixture.h"

#include <chrono>
#include <thread>

namespace orvex::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using WaitState = DeviceTest;

TEST_F(WaitState, StuckInStateThatNeverMatchesRunsOutQuietly)
{
    device.SetPollInterval(150);
    bus.SetState(kBv, 0x1B);
    EXPECT_EQ(device.WaitState(-1, 2, kBv), 0);
    auto codes = Codes(kBv, true);
    EXPECT_GE(codes.size(), 12u);
    EXPECT_LE(codes.size(), 14u);
    for (auto code : codes)
        EXPECT_EQ(code, 0x33);
    EXPECT_EQ(device.GetLastPoll().state, 0x1B);
}

TEST_F(WaitState, EndsAtTheFirstMatchingPollAndKeepsItsReply)
{
    bus.QueueStates(kCy, { { 0x13, 0, 0 }, { 0x1A, 0, 0 }, { 0x19, 0x05, 0x07 } });
    EXPECT_EQ(device.WaitState(0x20043, 600, kCy), 1);
    EXPECT_EQ(Codes(kCy, true).size(), 3u);
    auto last = device.GetLastPoll();
    EXPECT_EQ(last.state, 0x19);
    EXPECT_EQ(last.subState, 0x05);
    EXPECT_EQ(last.third, 0x07);
}

TEST_F(WaitState, FlagTableEntries)
{
    struct Case {
        int flags;
        std::uint8_t state;
        bool matches;
    } cases[] {
        { 1 << 23, 0x21, true }, { 1 << 21, 0x21, true }, { 1 << 17, 0x45, true }, { 1 << 17, 0x28, true },
        { 1 << 17, 0x49, false }, { 1 << 1, 0x12, true }, { 1 << 1, 0x13, false }, { 1 << 19, 0x80, true },
        { 1 << 18, 0x80, false }, { 1 << 15, 0x27, true }, { 1 << 16, 0x27, false }, { -1, 0x27, true },
        { -1, 0x33, false }, { -1, 0x1B, false }, { 0x4B, 0x1B, false },
    };
    for (const Case& test : cases) {
        // Idling (bit 0) follows, so a miss costs one more poll, not the time-out.
        peer.ClearFrames();
        bus.QueueStates(kCy, { { test.state, 0, 0 }, { 0x14, 0, 0 } });
        EXPECT_EQ(device.WaitState(test.flags | 1, 5, kCy), 1);
        EXPECT_EQ(Codes(kCy, true).size(), test.matches ? 1u : 2u)
            << "flags " << std::hex << test.flags << " state " << int(test.state);
    }
}

TEST_F(WaitState, ZeroTimeoutPollsNothing)
{
    EXPECT_EQ(device.WaitState(-1, 0, kCy), 0);
    EXPECT_TRUE(Codes(kCy, true).empty());
}

TEST_F(WaitState, FailedPollEndsTheWaitWithZeros)
{
    bus.SetState(kCy, 0x19, 3);
    int state = 0, subState = 0;
    ASSERT_EQ(device.Poll(state, subState, kCy), 0);
    bus.SetSilent(kCy, true);
    auto start = Clock::now();
    EXPECT_EQ(device.WaitState(-1, 600, kCy), 0);
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_EQ(Codes(kCy, true).size(), 2u);
    EXPECT_EQ(device.GetLastPoll().state, 0);
    EXPECT_EQ(device.GetLastPoll().subState, 0);
}

TEST_F(WaitState, StopByteFromAnotherThreadEndsALongWait)
{
    std::atomic<std::uint8_t> stop { 0 };
    device.SetStopFlag(&stop);
    device.SetPollInterval(100);
    bus.SetState(kCy, 0x1B);
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop = 1;
    });
    auto start = Clock::now();
    EXPECT_EQ(device.WaitState(-1, 600, kCy), 0);
    EXPECT_LT(Clock::now() - start, 3s);
    stopper.join();
    std::size_t sent = Codes(kCy, true).size();
    EXPECT_GE(sent, 1u);
    // Once the byte is set nothing more goes out.
    EXPECT_EQ(device.WaitState(-1, 600, kCy), 0);
    EXPECT_EQ(Codes(kCy, true).size(), sent);
    device.SetStopFlag(nullptr);
}

using Poll = DeviceTest;

TEST_F(Poll, GivesStateAndSubState)
{
    bus.SetState(kBv, 0x80, 0x02);
    int state = 0, subState = 0;
    EXPECT_EQ(device.Poll(state, subState, kBv), 0);
    EXPECT_EQ(state, 0x80);
    EXPECT_EQ(subState, 0x02);
    EXPECT_EQ(device.GetLastPoll().state, 0x80);
}

TEST_F(Poll, BusyStateGivesMinusEight)
{
    bus.SetState(kBv, 0x33);
    int state = 0, subState = 0;
    EXPECT_EQ(device.Poll(state, subState, kBv), -8);
    EXPECT_EQ(state, 0x33);
}

TEST_F(Poll, SilentDeviceGivesTimeoutAndKeepsTheLastReply)
{
    bus.SetState(kBv, 0x14);
    int state = 0, subState = 0;
    ASSERT_EQ(device.Poll(state, subState, kBv), 0);
    bus.SetSilent(kBv, true);
    state = subState = 9;
    EXPECT_EQ(device.Poll(state, subState, kBv), -1);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(subState, 0);
    EXPECT_EQ(device.GetLastPoll().state, 0x14);
}

using PollReader = DeviceTest;

TEST_F(PollReader, AcceptedAndUnlistedStates)
{
    int state = 0, subState = 0;
    for (std::uint8_t accepted : { 1, 5, 9, 0x10, 0x13 }) {
        bus.SetState(kCr, accepted, 4);
        EXPECT_EQ(device.PollReader(state, subState), 0) << int(accepted);
        EXPECT_EQ(state, accepted);
        EXPECT_EQ(subState, 4);
    }
    for (std::uint8_t unlisted : { 0, 2, 0x14, 0x30 }) {
        bus.SetState(kCr, unlisted);
        EXPECT_EQ(device.PollReader(state, subState), -8) << int(unlisted);
        EXPECT_EQ(state, unlisted);
        EXPECT_EQ(device.GetLastReaderPoll().state, unlisted);
    }
}

TEST_F(PollReader, SilentReaderGivesZeros)
{
    bus.SetSilent(kCr, true);
    int state = 9, subState = 9;
    EXPECT_EQ(device.PollReader(state, subState), -1);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(subState, 0);
}

using WaitReaderState = DeviceTest;

TEST_F(WaitReaderState, ShortTimeoutPollsExactlyOnce)
{
    device.SetPollInterval(50);
    bus.SetState(kCr, 0x1A);
    EXPECT_EQ(device.WaitReaderState(-1, 10), 1);
    EXPECT_EQ(Codes(kCr, true), CodeList({ 0x33 }));
    peer.ClearFrames();
    bus.SetState(kCr, 0x11); // busy is in no flag
    EXPECT_EQ(device.WaitReaderState(-1, 10), 0);
    EXPECT_EQ(Codes(kCr, true), CodeList({ 0x33 }));
}

TEST_F(WaitReaderState, AtOnceStatesEndBeforeTheSleep)
{
    device.SetPollInterval(400);
    for (auto [flags, state] : { std::pair { 1 << 25, 0x01 }, { 1 << 0, 0x06 }, { 1 << 17, 0x44 },
             { 1 << 26, 0x12 }, { 1 << 22, 0x29 }, { 1 << 19, 0x80 }, { 1 << 21, 0x21 } }) {
        bus.SetState(kCr, static_cast<std::uint8_t>(state));
        auto start = Clock::now();
        EXPECT_EQ(device.WaitReaderState(flags, 1000), 1) << std::hex << state;
        EXPECT_LT(Clock::now() - start, 350ms) << std::hex << state;
    }
}

TEST_F(WaitReaderState, OtherMatchesWaitOutTheInterval)
{
    bus.QueueStates(kCr, { { 0x1A, 0, 0 }, { 0x14, 0, 0 } });
    EXPECT_EQ(device.WaitReaderState(1 << 28, 5000), 1);
    EXPECT_EQ(device.GetLastReaderPoll().state, 0x14);
    EXPECT_EQ(Codes(kCr, true).size(), 2u);
    // Bit 23 takes 0x21 as well, but not at once.
    bus.SetState(kCr, 0x21);
    EXPECT_EQ(device.WaitReaderState(1 << 23, 5000), 1);
}

TEST_F(WaitReaderState, FailedPollEndsUnlessEveryStateIsWanted)
{
    bus.SetSilent(kCr, true);
    EXPECT_EQ(device.WaitReaderState(1 << 28, 5000), 0);
    EXPECT_EQ(Codes(kCr, true).size(), 1u);
    EXPECT_EQ(device.GetLastReaderPoll().state, 0xFF); // low byte of -1
    peer.ClearFrames();
    EXPECT_EQ(device.WaitReaderState(-1, 300), 0);
    EXPECT_GE(Codes(kCr, true).size(), 2u);
}

TEST_F(WaitReaderState, StopByteEndsIt)
{
    std::atomic<std::uint8_t> stop { 1 };
    device.SetStopFlag(&stop);
    bus.SetState(kCr, 0x14);
    EXPECT_EQ(device.WaitReaderState(-1, 5000), 0);
    EXPECT_TRUE(Codes(kCr, true).empty());
    device.SetStopFlag(nullptr);
}

} // namespace
} // namespace orvex::test
