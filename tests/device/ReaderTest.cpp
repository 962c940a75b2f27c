#include "DeviceFixture.h"


namespace orvex::test {
namespace {

constexpr std::uint8_t kSession = 0x13;

class Reader : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        bus.SetState(kCr, 0x14);
    }

    // The session commands share one code; the byte after it tells them apart.
    void OnSession(std::uint8_t sub, FakeBus::Handler handler)
    {
        bus.On(kCr, kSession, [sub, handler](const Bytes& frame) {
            if (frame[4] == sub)
                return handler(frame);
            return Bytes { 0x00 };
        });
    }

    std::vector<Bytes> SessionFrames() const
    {
        std::vector<Bytes> frames;
        for (const Bytes& frame : peer.Commands())
            if (frame[1] == kCr && frame[3] == kSession)
                frames.push_back(frame);
        return frames;
    }
};

TEST_F(Reader, CancelVendEndsIdle)
{
    EXPECT_EQ(device.CancelVend(), 0);
    EXPECT_EQ(Codes(kCr, true), CodeList({ kSession, 0x33 }));
    EXPECT_EQ(SessionFrames()[0][4], 0x03);
}

TEST_F(Reader, CancelVendInAnotherStateIsRefused)
{
    bus.SetState(kCr, 0x15);
    EXPECT_EQ(device.CancelVend(), 7);
    bus.SetState(kCr, 0x44);
    EXPECT_EQ(device.CancelVend(), 7);
    bus.SetState(kCr, 0x1A); // in none of its flags
    EXPECT_EQ(device.CancelVend(), -10000);
}

TEST_F(Reader, CancelVendRefusedByTheReader)
{
    OnSession(0x03, [](const Bytes&) { return Bytes { 0x07 }; });
    EXPECT_EQ(device.CancelVend(), 7);
    OnSession(0x03, [](const Bytes&) { return Bytes { 0x05 }; });
    EXPECT_EQ(device.CancelVend(), -7);
    OnSession(0x03, [](const Bytes&) { return Bytes { 0x30 }; });
    EXPECT_EQ(device.CancelVend(), -6);
    EXPECT_EQ(Codes(kCr, true), CodeList({ kSession, kSession, kSession }));
}

TEST_F(Reader, CancelVendWithTheReaderGoneSilent)
{
    OnSession(0x03, [this](const Bytes&) {
        bus.SetSilent(kCr, true);
        return Bytes { 0x00 };
    });
    EXPECT_EQ(device.CancelVend(), -10000);
}

TEST_F(Reader, RequestVendNeedsAReaderReadyForIt)
{
    double approved = 0;
    EXPECT_EQ(device.RequestVend(1.5, approved, 3, nullptr), -6);
    EXPECT_EQ(Codes(kCr, true), CodeList({ 0x33 }));
    bus.SetSilent(kCr, true);
    EXPECT_EQ(device.RequestVend(1.5, approved, 3, nullptr), -1);
}

TEST_F(Reader, RequestVendSendsTheAmountAndTheTotal)
{
    bus.SetState(kCr, 7);
    double approved = 0;
    EXPECT_EQ(device.RequestVend(1.5, approved, 3, nullptr), 0);
    EXPECT_DOUBLE_EQ(approved, 1.5);
    auto frames = SessionFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(Bytes(frames[0].begin() + 2, frames[0].end() - 2),
        Bytes({ 16, kSession, 0x01, 3, 0, 0, 0, 15, 0, 0, 0, 15 }));

    OnSession(0x01, [](const Bytes&) { return Bytes { 0x30 }; });
    EXPECT_EQ(device.RequestVend(1.5, approved, 3, nullptr), -6);
    EXPECT_DOUBLE_EQ(approved, 1.5);
}

TEST_F(Reader, RequestVendOfNothingSendsNothing)
{
    bus.SetState(kCr, 7);
    double approved = 2.0;
    EXPECT_EQ(device.RequestVend(0.0, approved, 0, nullptr), 0);
    EXPECT_TRUE(SessionFrames().empty());
}

TEST_F(Reader, RequestVendRefusedByTheEngineIsNoSuccess)
{
    bus.SetState(kCr, 7);
    double approved = 0;
    CassetteRecord table[kFundsEntries];
    EXPECT_EQ(device.RequestVend(1.0, approved, 24, table), -6);
    EXPECT_TRUE(SessionFrames().empty());
}

class Funds : public Reader {
protected:
    void SetUp() override
    {
        Reader::SetUp();
        SetFunds(0xE1);
    }
    void SetFunds(std::uint8_t first)
    {
        OnSession(0x00, [first](const Bytes&) {
            return Bytes { first, 'U', 'S', 'D', 0, 0, 0x01, 0xF4, 2, 'E', 'U', 'R', 0, 0, 0x03, 0xE8, 2 };
        });
    }
    double amount = -1;
    int index = -1;
    CassetteRecord table[kFundsEntries];
};

TEST_F(Funds, PicksTheEntryOfTheCurrency)
{
    EXPECT_EQ(device.GetFunds(amount, index, "EUR", table), 0);
    EXPECT_EQ(index, 1);
    EXPECT_DOUBLE_EQ(amount, 10.0);
    EXPECT_EQ(table[2].status, 254);
}

TEST_F(Funds, UnknownCurrencyGivesTheFirstEntry)
{
    EXPECT_EQ(device.GetFunds(amount, index, "GBP", nullptr), 0);
    EXPECT_EQ(index, 0);
    EXPECT_DOUBLE_EQ(amount, 5.0);
}

TEST_F(Funds, FirstByteOutOfRange)
{
    SetFunds(0x10);
    EXPECT_EQ(device.GetFunds(amount, index, "EUR", table), 128);
    SetFunds(0xE8);
    EXPECT_EQ(device.GetFunds(amount, index, "EUR", table), 128);
    SetFunds(0xFF);
    EXPECT_EQ(device.GetFunds(amount, index, "EUR", table), -5);
    EXPECT_EQ(index, -1);
}

TEST_F(Funds, SilentReaderGivesTheTimeout)
{
    bus.SetSilent(kCr, true);
    EXPECT_EQ(device.GetFunds(amount, index, "EUR", table), -1);
    EXPECT_EQ(table[0].status, 254);
}

using SetupReader = Reader;

TEST_F(SetupReader, InactiveReaderIsSetUpAndIdentified)
{
    bus.SetState(kCr, 1);
    bus.On(kCr, 0x15, [](const Bytes&) { return Bytes { 'C', 'R' }; });
    EXPECT_EQ(device.SetupReader(0x02, "EURO"), 0);
    EXPECT_EQ(Codes(kCr, true), CodeList({ 0x33, 0x33, 0x11, 0x33, 0x15 }));
    for (const Bytes& frame : peer.Commands())
        if (frame[3] == 0x11) {
            EXPECT_EQ(Bytes(frame.begin() + 2, frame.end() - 2), Bytes({ 10, 0x11, 0x02, 'E', 'U', 'R' }));
        }
}

TEST_F(SetupReader, OtherReaderIsResetFirst)
{
    bus.On(kCr, 0x31, [this](const Bytes&) {
        bus.SetState(kCr, 0x13);
        return Bytes { 0x00 };
    });
    EXPECT_EQ(device.SetupReader(0x02, "EUR"), 0);
    // Three tries at the idle reader, the reset, the wait, the identification.
    EXPECT_EQ(Codes(kCr, true), CodeList({ 0x33, 0x33, 0x33, 0x31, 0x33, 0x15 }));
}

TEST_F(SetupReader, ReaderSetUpAlreadyNeedsNothingMore)
{
    bus.SetState(kCr, 9);
    EXPECT_EQ(device.SetupReader(0x02, "EUR"), 0);
    EXPECT_EQ(Codes(kCr, true), CodeList({ 0x33, 0x31, 0x33 }));
}

TEST_F(SetupReader, SilentReaderGivesTheTimeout)
{
    bus.SetSilent(kCr, true);
    EXPECT_EQ(device.SetupReader(0x02, "EUR"), -1);
    EXPECT_EQ(Codes(kCr, true), CodeList({ 0x33, 0x33, 0x33, 0x31 }));
}

TEST_F(SetupReader, ShortCurrencyIsPadded)
{
    bus.SetState(kCr, 1);
    EXPECT_EQ(device.SetupReader(0x01, "E"), 0);
    for (const Bytes& frame : peer.Commands())
        if (frame[3] == 0x11) {
            EXPECT_EQ(Bytes(frame.begin() + 5, frame.begin() + 8), Bytes({ 'E', 0, 0 }));
        }
}

using ReaderCommands = Reader;

TEST_F(ReaderCommands, SessionAndEnable)
{
    EXPECT_EQ(device.ReaderSession(1), 0);
    EXPECT_EQ(device.ReaderSession(0x100), 0); // only the low byte counts
    EXPECT_EQ(device.EnableReader(1), 0);
    auto commands = peer.Commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0][4], 0x10);
    EXPECT_EQ(commands[1][4], 0x04);
    EXPECT_EQ(Bytes(commands[2].begin() + 2, commands[2].end() - 2), Bytes({ 7, 0x14, 1 }));
    bus.On(kCr, 0x14, [](const Bytes&) { return Bytes { 0x30 }; });
    EXPECT_EQ(device.EnableReader(0), -6);
}

} // namespace
} // namespace orvex::test
