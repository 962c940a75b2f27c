#include "ProtocolFixture.h"

#include <cmath>

using namespace orvex;
using namespace orvex::test;

namespace {

// One funds entry: currency, amount (high byte first), exponent.
void AddFunds(Bytes& data, const char* currency, std::uint32_t amount, std::uint8_t exponent)
{
    data.insert(data.end(), currency, currency + 3);
    for (int shift = 24; shift >= 0; shift -= 8)
        data.push_back(static_cast<std::uint8_t>(amount >> shift));
    data.push_back(exponent);
}

void Fill(CassetteRecord funds[kFundsEntries])
{
    for (int k = 0; k < kFundsEntries; ++k) {
        funds[k].status = 7;
        funds[k].value = 99.0;
        funds[k].country = "OLD";
        funds[k].billCount = 3;
    }
}

void ExpectEmpty(const CassetteRecord& entry)
{
    EXPECT_EQ(entry.status, 254);
    EXPECT_EQ(entry.value, 0.0);
    EXPECT_EQ(entry.decimalExponent, 0);
    EXPECT_EQ(entry.country, "");
    EXPECT_EQ(entry.billCount, 0);
    EXPECT_EQ(entry.billType, 0);
    EXPECT_EQ(entry.escrowMark, 0);
}

} // namespace

// ---- Set-up -------------------------------------------------------------

TEST_F(ProtocolTest, ReaderSetupReturnsTwoBytesAndFreesTheLock)
{
    Answer(4, { 0x05, 0x06 });
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    ASSERT_TRUE(protocol.CardReaderSetup(2, "EUR", first, second));
    EXPECT_EQ(first, 0x05);
    EXPECT_EQ(second, 0x06);
    EXPECT_TRUE(observer.Names().empty());
    // With the lock still taken this would wait a second and fail.
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(protocol.CardReaderSetup(2, "EUR", first, second));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
}

TEST_F(ProtocolTest, ReaderSetupWithAShortReply)
{
    Answer(4, { 0x05 });
    std::uint8_t first = 9;
    std::uint8_t second = 9;
    ASSERT_TRUE(protocol.CardReaderSetup(2, "EUR", first, second));
    EXPECT_EQ(first, 0x05);
    EXPECT_EQ(second, 0);
}

// ---- Funds --------------------------------------------------------------

TEST_F(ProtocolTest, FundsEntriesAreAmountsOverPowersOfTen)
{
    Bytes data { 0xE1 };
    AddFunds(data, "EUR", 12345, 2);
    AddFunds(data, "USD", 7, 0);
    Answer(4, data);
    CassetteRecord funds[kFundsEntries];
    Fill(funds);
    std::uint8_t firstByte = 0;
    ASSERT_TRUE(protocol.GetFunds(funds, firstByte));
    EXPECT_EQ(firstByte, 0xE1);
    EXPECT_EQ(funds[0].status, 0);
    EXPECT_DOUBLE_EQ(funds[0].value, 123.45);
    EXPECT_EQ(funds[0].decimalExponent, 2);
    EXPECT_EQ(funds[0].country, "EUR");
    EXPECT_EQ(funds[0].billCount, 0);
    EXPECT_EQ(funds[1].status, 0);
    EXPECT_DOUBLE_EQ(funds[1].value, 7.0);
    EXPECT_EQ(funds[1].country, "USD");
    for (int k = 2; k < kFundsEntries; ++k)
        ExpectEmpty(funds[k]);
}

TEST_F(ProtocolTest, FundsNotAvailableIsMinusFive)
{
    Answer(4, { 0xFF });
    CassetteRecord funds[kFundsEntries];
    Fill(funds);
    std::uint8_t firstByte = 0;
    EXPECT_FALSE(protocol.GetFunds(funds, firstByte));
    EXPECT_EQ(protocol.GetLastResultCode(), -5);
    EXPECT_EQ(firstByte, 0xFF);
}

TEST_F(ProtocolTest, FundsRefused)
{
    Answer(4, { 0x30 });
    CassetteRecord funds[kFundsEntries];
    std::uint8_t firstByte = 0;
    EXPECT_FALSE(protocol.GetFunds(funds, firstByte));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
    EXPECT_EQ(firstByte, 0x30);
}

TEST_F(ProtocolTest, FundsExchangeFailedClearsEveryEntry)
{
    AnswerRaw({ 0x02, 0x04, 0x06, 0x00, 0x00, 0x00 });
    CassetteRecord funds[kFundsEntries];
    Fill(funds);
    std::uint8_t firstByte = 0x77;
    EXPECT_FALSE(protocol.GetFunds(funds, firstByte));
    EXPECT_EQ(protocol.GetLastResultCode(), -4);
    EXPECT_EQ(firstByte, 0x77);
    for (int k = 0; k < kFundsEntries; ++k)
        ExpectEmpty(funds[k]);
}

TEST_F(ProtocolTest, FundsCountAbove231FillsNothingAndSucceeds)
{
    Bytes data { 0xE8 };
    AddFunds(data, "EUR", 100, 0);
    Answer(4, data);
    CassetteRecord funds[kFundsEntries];
    Fill(funds);
    std::uint8_t firstByte = 0;
    EXPECT_TRUE(protocol.GetFunds(funds, firstByte));
    ExpectEmpty(funds[0]);
}

TEST_F(ProtocolTest, FundsEntryCutShortReadsAsZeros)
{
    Bytes data { 0xE0, 'E', 'U' };
    Answer(4, data);
    CassetteRecord funds[kFundsEntries];
    std::uint8_t firstByte = 0;
    ASSERT_TRUE(protocol.GetFunds(funds, firstByte));
    EXPECT_EQ(funds[0].country, "EU");
    EXPECT_EQ(funds[0].value, 0.0);
    ExpectEmpty(funds[1]);
}

// ---- Vend ---------------------------------------------------------------

TEST_F(ProtocolTest, VendRequestThatConvertsToZeroSendsNothing)
{
    Answer(4, { 0x00 });
    double total = 3.0;
    EXPECT_TRUE(protocol.VendRequest(0, 0.0, total, nullptr, false));
    CassetteRecord funds[kFundsEntries];
    funds[0].decimalExponent = 0;
    EXPECT_TRUE(protocol.VendRequest(0, 0.4, total, funds, false)); // rounds to 0
    EXPECT_EQ(total, 3.0);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(peer.Frames().empty());
    EXPECT_TRUE(observer.Names().empty());
}

TEST_F(ProtocolTest, VendRequestWithAFundsEntryUsesItsExponent)
{
    Answer(4, { 0x00 });
    CassetteRecord funds[kFundsEntries];
    funds[2].decimalExponent = 2;
    double total = 1.5;
    ASSERT_TRUE(protocol.VendRequest(2, 0.35, total, funds, false));
    EXPECT_EQ(OnlyCommand(), Command(4, { 0x13, 0x01, 2, 0, 0, 0, 35, 0, 0, 0, 185 }));
    EXPECT_DOUBLE_EQ(total, 1.85);
}

TEST_F(ProtocolTest, VendRequestRefusedKeepsTheTotal)
{
    Answer(4, { 0xFF });
    double total = 1.0;
    EXPECT_FALSE(protocol.VendRequest(0, 2.0, total, nullptr, false));
    EXPECT_EQ(protocol.GetLastResultCode(), -5);
    EXPECT_EQ(total, 1.0);
}

TEST_F(ProtocolTest, VendRequestPriceBeyondThirtyTwoBitsIsNotSent)
{
    Answer(4, { 0x00 });
    double total = 0;
    EXPECT_FALSE(protocol.VendRequest(0, 5e9, total, nullptr, false));
    EXPECT_FALSE(protocol.VendRequest(0, -1.0, total, nullptr, false));
    EXPECT_FALSE(protocol.VendRequest(0, 1.0 / 3.0, total, nullptr, false));
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(peer.Frames().empty());
}

TEST(AmountConversion, SmallestExponentThatMakesThePriceWhole)
{
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(2.0, nullptr, 0), 2u);
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(1.5, nullptr, 0), 15u);
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(0.25, nullptr, 0), 25u);
    // Decimal prices have no exact binary form; they still convert to
    // their own digits, not to sixteen of them.
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(1.1, nullptr, 0), 11u);
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(0.07, nullptr, 0), 7u);
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(123.45, nullptr, 0), 12345u);
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(4294967295.0, nullptr, 0), 4294967295u);
}

TEST(AmountConversion, WithAFundsEntryRoundsAtItsExponent)
{
    CassetteRecord funds[kFundsEntries];
    funds[1].decimalExponent = 2;
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(1.234, funds, 1), 123u);
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(1.235, funds, 1), 124u);
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(1.1, funds, 1), 110u);
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(1.1, funds, 0), 1u);
}

TEST(AmountConversion, ValuesThatCannotBeSentGiveZero)
{
    CassetteRecord funds[kFundsEntries];
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(-2.0, nullptr, 0), 0u);
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(1e10, nullptr, 0), 0u);
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(std::nan(""), nullptr, 0), 0u);
    EXPECT_EQ(CKRMSProtocol::ConvertAmount(1.0, funds, 24), 0u);
}

// ---- Polls and the rest -------------------------------------------------

TEST_F(ProtocolTest, ReaderPollKeepsStateAndSubState)
{
    Answer(4, { 0x12, 0x03 });
    ASSERT_TRUE(protocol.PollCR());
    EXPECT_EQ(protocol.GetLastReaderPoll().state, 0x12);
    EXPECT_EQ(protocol.GetLastReaderPoll().subState, 0x03);
    Answer(4, { 0x11 }); // six bytes: no sub-state
    ASSERT_TRUE(protocol.PollCR());
    EXPECT_EQ(protocol.GetLastReaderPoll().state, 0x11);
    EXPECT_EQ(protocol.GetLastReaderPoll().subState, 0);
}

TEST_F(ProtocolTest, ReaderIdentificationSucceedsOnAnyReply)
{
    Answer(4, { 0x30 });
    EXPECT_TRUE(protocol.CRIdentification());
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
}
