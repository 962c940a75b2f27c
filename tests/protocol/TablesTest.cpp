#include "ProtocolFixture.h"

#include <cstring>

using namespace orvex;
using namespace orvex::test;

namespace {

// One bill table group: digit, country, exponent.
void AddBill(Bytes& data, std::uint8_t digit, const char* country, std::uint8_t exponent)
{
    data.push_back(digit);
    data.insert(data.end(), country, country + 3);
    data.push_back(exponent);
}

} // namespace

// ---- Bill table ---------------------------------------------------------

TEST_F(ProtocolTest, BillTableOfTwentyFourGroups)
{
    Bytes data;
    for (int k = 0; k < 24; ++k)
        AddBill(data, static_cast<std::uint8_t>(k % 9 + 1), "RUS", static_cast<std::uint8_t>(k % 3));
    ASSERT_EQ(data.size() + 5, 125u);
    Answer(3, data);
    BillTypeEntry table[kBillTypes];
    ASSERT_TRUE(protocol.BillTable(table, 3));
    for (int k = 0; k < 24; ++k) {
        float expected = static_cast<float>(k % 9 + 1);
        for (int i = 0; i < k % 3; ++i)
            expected *= 10.0f;
        EXPECT_FLOAT_EQ(table[k].value, expected) << k;
        EXPECT_EQ(table[k].country, "RUS") << k;
    }
}

TEST_F(ProtocolTest, BillTableOfFiveGroupsClearsTheRest)
{
    Bytes data;
    AddBill(data, 1, "EUR", 0);
    AddBill(data, 5, "EUR", 1);
    AddBill(data, 2, "EUR", 2);
    AddBill(data, 5, "EUR", 0x81); // 0.5
    AddBill(data, 1, "USD", 0x82); // 0.01
    ASSERT_EQ(data.size() + 5, 30u);
    Answer(3, data);
    BillTypeEntry table[kBillTypes];
    for (auto& entry : table) {
        entry.value = 99;
        entry.country = "OLD";
        entry.routed = 1;
    }
    ASSERT_TRUE(protocol.BillTable(table, 3));
    EXPECT_FLOAT_EQ(table[0].value, 1.0f);
    EXPECT_FLOAT_EQ(table[1].value, 50.0f);
    EXPECT_FLOAT_EQ(table[2].value, 200.0f);
    EXPECT_FLOAT_EQ(table[3].value, 0.5f);
    EXPECT_FLOAT_EQ(table[4].value, 0.01f);
    EXPECT_EQ(table[4].country, "USD");
    for (int k = 5; k < 24; ++k) {
        EXPECT_EQ(table[k].value, 0.0f) << k;
        EXPECT_EQ(table[k].country, "") << k;
    }
    EXPECT_EQ(table[10].routed, 1); // not this command's field
}

TEST_F(ProtocolTest, BillTableInvalidCommandClearsEveryEntry)
{
    Answer(3, { 0x30 });
    BillTypeEntry table[kBillTypes];
    table[0].value = 10;
    table[0].country = "RUS";
    EXPECT_FALSE(protocol.BillTable(table, 3));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
    EXPECT_EQ(table[0].value, 0.0f);
    EXPECT_EQ(table[0].country, "");
}

TEST_F(ProtocolTest, BillTableWithAPartialLastGroupStaysInTheFrame)
{
    Bytes data;
    AddBill(data, 1, "EUR", 1);
    data.push_back(2); // a group cut after its digit
    data.push_back('U');
    Answer(3, data);
    BillTypeEntry table[kBillTypes];
    ASSERT_TRUE(protocol.BillTable(table, 3));
    EXPECT_FLOAT_EQ(table[0].value, 10.0f);
    EXPECT_FLOAT_EQ(table[1].value, 2.0f);
    EXPECT_EQ(table[1].country, "U");
}

// ---- Cassette table -----------------------------------------------------

TEST_F(ProtocolTest, CassetteBytesGiveStatusTypeAndEscrowMark)
{
    Answer(1, { 0x98, 0x0A, 0x18, 0x05, 0x9F, 0x00, 0x83, 0x64 });
    ASSERT_TRUE(protocol.GetCassetteStatus());
    auto table = protocol.GetCassetteTable();
    EXPECT_EQ(table[0].status, 0);
    EXPECT_EQ(table[0].billType, 24);
    EXPECT_EQ(table[0].escrowMark, 1);
    EXPECT_EQ(table[0].billCount, 10);
    EXPECT_EQ(table[1].status, 254); // not present
    EXPECT_EQ(table[2].status, 253); // present, type 31
    EXPECT_EQ(table[3].status, 0);
    EXPECT_EQ(table[3].billType, 3);
    EXPECT_EQ(table[3].escrowMark, 0);
    EXPECT_EQ(table[3].billCount, 100);
    for (int k = 4; k < kCassettes; ++k) {
        EXPECT_EQ(table[static_cast<std::size_t>(k)].status, 254) << k;
        EXPECT_EQ(table[static_cast<std::size_t>(k)].billCount, 0) << k;
    }
}

TEST_F(ProtocolTest, CassetteTableTakesAtMostSixteenPairs)
{
    Bytes data;
    for (int k = 0; k < 20; ++k) {
        data.push_back(0x81);
        data.push_back(static_cast<std::uint8_t>(k));
    }
    Answer(1, data);
    ASSERT_TRUE(protocol.GetCassetteStatus());
    auto table = protocol.GetCassetteTable();
    EXPECT_EQ(table[15].billCount, 15);
}

TEST_F(ProtocolTest, CassetteStatusInvalidCommandClearsTheTable)
{
    Answer(1, { 0x98, 0x0A });
    ASSERT_TRUE(protocol.GetCassetteStatus());
    Answer(1, { 0x30 });
    EXPECT_FALSE(protocol.GetCassetteStatus());
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
    auto table = protocol.GetCassetteTable();
    EXPECT_EQ(table[0].status, 254);
    EXPECT_EQ(table[0].billCount, 0);
    EXPECT_EQ(table[0].billType, 0);
    EXPECT_EQ(table[0].escrowMark, 0);
}

// ---- Feeding level ------------------------------------------------------

TEST_F(ProtocolTest, FeedingLevelPrefixesTheDataCount)
{
    Answer(1, { 0x05, 0x06, 0x07 });
    std::uint8_t output[8];
    std::memset(output, 0xEE, sizeof output);
    ASSERT_TRUE(protocol.GetCassetteFeedingLevel(output, 8));
    EXPECT_EQ(Bytes(output, output + 5), (Bytes { 3, 5, 6, 7, 0xEE }));
}

TEST_F(ProtocolTest, FeedingLevelHonoursTheCapacity)
{
    Answer(1, { 0x05, 0x06, 0x07 });
    std::uint8_t output[4];
    std::memset(output, 0xEE, sizeof output);
    EXPECT_FALSE(protocol.GetCassetteFeedingLevel(output, 2));
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
    EXPECT_EQ(Bytes(output, output + 4), (Bytes { 3, 5, 0xEE, 0xEE }));
}

TEST_F(ProtocolTest, FeedingLevelRefusedWhateverTheLength)
{
    Answer(1, { 0x30, 0x01, 0x02 });
    std::uint8_t output[8] {};
    EXPECT_FALSE(protocol.GetCassetteFeedingLevel(output, 8));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
}

// ---- Statistics ---------------------------------------------------------

TEST_F(ProtocolTest, StatisticsCopyTheLongRecord)
{
    Bytes data(293);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    Bytes frame = MakeFrame(3, data); // 300 bytes, long form
    AnswerRaw(frame);
    std::vector<std::uint8_t> buffer(400, 0xEE);
    ASSERT_TRUE(protocol.RequestStatistics(buffer.data(), 400, 3));
    // 294 bytes from byte 5: the record and the low check-code byte.
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 294), Bytes(frame.begin() + 5, frame.begin() + 299));
    EXPECT_EQ(buffer[294], 0xEE);
}

TEST_F(ProtocolTest, StatisticsIntoASmallBufferCopyWhatFits)
{
    Bytes frame = MakeFrame(3, Bytes(293, 0x42));
    AnswerRaw(frame);
    std::vector<std::uint8_t> buffer(20, 0xEE);
    EXPECT_FALSE(protocol.RequestStatistics(buffer.data(), 10, 3));
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10), Bytes(10, 0x42));
    EXPECT_EQ(buffer[10], 0xEE);
}

TEST_F(ProtocolTest, StatisticsShortReplies)
{
    std::vector<std::uint8_t> buffer(20, 0xEE);
    Answer(3, { 0x30 });
    EXPECT_FALSE(protocol.RequestStatistics(buffer.data(), 8, 3));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 9), (Bytes { 0, 0, 0, 0, 0, 0, 0, 0, 0xEE }));

    std::fill(buffer.begin(), buffer.end(), 0xEE);
    Answer(3, { 0x01, 0x02 });
    EXPECT_FALSE(protocol.RequestStatistics(buffer.data(), 8, 3));
    EXPECT_EQ(protocol.GetLastResultCode(), -5);
    EXPECT_EQ(buffer[7], 0);

    std::fill(buffer.begin(), buffer.end(), 0xEE);
    Answer(3, { 0x00 });
    EXPECT_FALSE(protocol.RequestStatistics(buffer.data(), 8, 3));
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
    EXPECT_EQ(buffer[0], 0xEE);
}

// ---- Data copies --------------------------------------------------------

TEST_F(ProtocolTest, PowerRecoveryCopiesTheEvents)
{
    Answer(1, { 0x02, 0x10, 0x11, 0x20, 0x21 });
    std::uint8_t state = 0;
    std::uint8_t buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    int count = 0;
    ASSERT_TRUE(protocol.PowerRecovery(state, buffer, 4, count));
    EXPECT_EQ(state, 0x02);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes { 0x10, 0x11, 0x20, 0x21, 0xEE }));
}

TEST_F(ProtocolTest, PowerRecoveryThatDoesNotFitFailsWithCountMinusOne)
{
    Answer(1, { 0x02, 1, 2, 3, 4, 5, 6 }); // L = 12, six data bytes
    std::uint8_t state = 0;
    std::uint8_t buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    int count = 0;
    EXPECT_FALSE(protocol.PowerRecovery(state, buffer, 4, count));
    EXPECT_EQ(count, -1);
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
    EXPECT_EQ(buffer[0], 0xEE);
}

TEST_F(ProtocolTest, PowerRecoveryRefusedGivesCountZero)
{
    Answer(1, { 0x30 });
    std::uint8_t state = 0;
    std::uint8_t buffer[8] {};
    int count = 9;
    EXPECT_FALSE(protocol.PowerRecovery(state, buffer, 8, count));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
    EXPECT_EQ(count, 0);
}

TEST_F(ProtocolTest, ExtendedCassetteStatusCopiesFromByteFour)
{
    Answer(1, { 0x01, 0x0A, 0x0B });
    std::uint8_t buffer[4] {};
    int count = 0;
    ASSERT_TRUE(protocol.ExtendedCassetteStatus(1, buffer, 4, count));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(buffer[0], 0x0A);
    EXPECT_EQ(buffer[1], 0x0B);
    EXPECT_FALSE(protocol.ExtendedCassetteStatus(1, buffer, 1, count));
    EXPECT_EQ(count, -1);
    EXPECT_EQ(protocol.GetLastResultCode(), 0);
}

TEST_F(ProtocolTest, DiagnosticStatusCopiesWhatFits)
{
    Answer(3, { 0x07, 1, 2, 3 });
    std::uint8_t status = 0;
    std::uint8_t buffer[4];
    std::memset(buffer, 0xEE, sizeof buffer);
    int count = 0;
    ASSERT_TRUE(protocol.DiagnosticStatusRequest(status, buffer, 2, count, 3));
    EXPECT_EQ(status, 0x07);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes { 1, 2, 0xEE }));
    AnswerRaw({ 0x02, 0x03, 0x06, 0x33, 0xDA, 0x82 });
    EXPECT_FALSE(protocol.DiagnosticStatusRequest(status, buffer, 2, count, 3));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(count, 0);
    Answer(3, { 0x30 });
    EXPECT_FALSE(protocol.DiagnosticStatusRequest(status, buffer, 2, count, 3));
    EXPECT_EQ(protocol.GetLastResultCode(), -6);
    EXPECT_EQ(count, 0);
}

TEST_F(ProtocolTest, DiagnosticSupportedFunctionsCopyFromByteThree)
{
    Answer(3, { 0x10, 0x11, 0x12 });
    std::uint8_t buffer[8] {};
    int count = 0;
    ASSERT_TRUE(protocol.DiagnosticSupportedFunctions(buffer, 8, count, 3));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes { 0x10, 0x11, 0x12 }));
    ASSERT_TRUE(protocol.DiagnosticSupportedFunctions(buffer, 1, count, 3));
    EXPECT_EQ(count, 1);
    Answer(3, { 0x30 });
    EXPECT_FALSE(protocol.DiagnosticSupportedFunctions(buffer, 8, count, 3));
    EXPECT_EQ(count, 0);
}
