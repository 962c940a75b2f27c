#include "DecodeTestSupport.h"
#include "decode/Decoders.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace orvex;
using namespace orvex::test;

namespace {

using Lines = std::vector<std::string>;

constexpr int kBlock = 179;

// The record from offset 5 to the currency names; offsets below are frame
// offsets.
struct Statistics {
    Bytes data = Bytes(4341 - 5, 0);

    std::uint8_t& At(int offset) { return data.at(static_cast<std::size_t>(offset - 5)); }
    void Put16(int offset, std::uint16_t value)
    {
        At(offset) = static_cast<std::uint8_t>(value);
        At(offset + 1) = static_cast<std::uint8_t>(value >> 8);
    }
    void Text(int offset, std::string_view text)
    {
        for (char character : text)
            At(offset++) = static_cast<std::uint8_t>(character);
    }
    Lines Decode(std::string_view names = "RUS", std::uint8_t address = 1) const
    {
        Bytes all = data;
        all.insert(all.end(), names.begin(), names.end());
        all.push_back(0);
        return DecodeReply(DecodeStatistics, ReplyRecord(address, all));
    }
};

const std::string* Find(const Lines& lines, std::string_view start)
{
    auto found = std::find_if(lines.begin(), lines.end(), [start](const std::string& line) { return line.rfind(start, 0) == 0; });
    return found == lines.end() ? nullptr : &*found;
}

} // namespace

TEST(Statistics, HeaderLines)
{
    Statistics record;
    record.Text(5, "RUS");
    record.At(8) = 20;
    record.At(9) = 3;
    record.Put16(10, 2026);
    record.At(12) = 12;
    record.At(13) = 24;
    record.At(14) = 9;
    record.At(15) = 15;
    record.At(16) = 30;
    record.Text(18, "SN0123456789XYZ");
    Lines lines = record.Decode();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "<-  Country Code :RUS");
    EXPECT_EQ(lines[1], "<-  Number of denominations : 20");
    EXPECT_EQ(lines[2], "<-  Data format version : 3");
    EXPECT_EQ(lines[3], "<-  Statistics reset date : 12/24/26 09:15:30");
    EXPECT_EQ(lines[4], "<-  Serial number :SN0123456789");
    EXPECT_EQ(lines[5], "----------------1/10000-----------------");
}

TEST(Statistics, LineCountAndOrder)
{
    Lines lines = Statistics().Decode();
    // 6 header, 3 totals, 42-dash line, 20 x 6, 13 failures, table header,
    // names, 20 denominations, the empty line.
    EXPECT_EQ(lines.size(), 6u + 4u + 120u + 13u + 1u + 1u + 20u + 1u);
    EXPECT_EQ(lines[9], std::string(42, '-'));
    EXPECT_EQ(lines[10], "<-  Denomination 1:");
    EXPECT_EQ(lines[143], "----------------Table of denominations-----------------");
    EXPECT_EQ(lines.back(), "");
}

TEST(Statistics, NeverResetDateIsInvalid)
{
    EXPECT_EQ(Statistics().Decode()[3], "<-  Statistics reset date : Invalid data");
}

TEST(Statistics, TotalsWrapInTheirWidth)
{
    Statistics record;
    for (int block = 0; block < 16; ++block)
        record.Put16(37 + kBlock * block, 1);
    record.Put16(37 + 162, 0xFFFF);
    record.Put16(37 + kBlock + 162, 0xFFFF);
    record.At(37 + 166) = 200;
    record.At(37 + kBlock + 166) = 200;
    record.Put16(37 + kBlock * 15 + 2 + 2 * 19, 7); // accepted, denomination 20, last block
    record.At(37 + kBlock * 15 + 178) = 9;
    Lines lines = record.Decode();
    EXPECT_EQ(*Find(lines, "<-  Number of inserted bills:"), "<-  Number of inserted bills: 16");
    EXPECT_EQ(*Find(lines, "<-  Number of unrecognized bills:"), "<-  Number of unrecognized bills: 65534");
    EXPECT_EQ(*Find(lines, "<-  Number of magnetic failures:"), "<-  Number of magnetic failures: 144");
    EXPECT_EQ(*Find(lines, "<-  Number of jams at exit sensor:"), "<-  Number of jams at exit sensor: 9");
    auto denomination20 = std::find(lines.begin(), lines.end(), "<-  Denomination 20:");
    ASSERT_NE(denomination20, lines.end());
    EXPECT_EQ(*(denomination20 + 1), "<-  Number of accepted bills: 7");
}

TEST(Statistics, DenominationIssueTexts)
{
    Statistics record;
    Bytes first { 0x0A, 'R', 'U', 'S', 0x02 };
    Bytes second { 0x45, 'R', 'U', 'S', 0x03 };
    Bytes third { 0x85, 'R', 'U', 'S', 0x02 };
    std::copy(first.begin(), first.end(), &record.At(4241));
    std::copy(second.begin(), second.end(), &record.At(4246));
    std::copy(third.begin(), third.end(), &record.At(4251));
    Lines lines = record.Decode();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "<-  Denomination 1: Old 1000 RUS"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "<-  Denomination 2: New 5000 RUS"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "<-  Denomination 3:  500 RUS"), lines.end());
}

TEST(Statistics, CurrencyNamesCutAtTheFirstFullStop)
{
    EXPECT_NE(Find(Statistics().Decode("RUS,USD.more.text"), "<-  Currency names:"), nullptr);
    EXPECT_EQ(*Find(Statistics().Decode("RUS,USD.more.text"), "<-  Currency names:"), "<-  Currency names: RUS,USD");
    EXPECT_EQ(*Find(Statistics().Decode("RUS,USD"), "<-  Currency names:"), "<-  Currency names: RUS,USD");
}

TEST(Statistics, OtherAddressesAreNotSupported)
{
    Bytes identification(34, 0x41);
    EXPECT_EQ(DecodeReply(DecodeStatistics, ReplyRecord(3, identification)),
        (Lines { "<-  Statistics for this device is not supported", "" }));
}

TEST(Statistics, ShortFramesCountAsZero)
{
    // A short frame: its data start at offset 3.
    Bytes data(40, 0);
    data[2] = 'R';
    data[34] = 5; // offset 37: inserted bills, block 0
    Lines lines = DecodeReply(DecodeStatistics, ReplyRecord(1, data));
    EXPECT_EQ(lines[0], "<-  Country Code :R");
    EXPECT_EQ(*Find(lines, "<-  Number of inserted bills:"), "<-  Number of inserted bills: 5");
    EXPECT_EQ(*Find(lines, "<-  Currency names:"), "<-  Currency names: ");
    EXPECT_EQ(*Find(lines, "<-  Denomination 20: "), "<-  Denomination 20: Old 0 ");
    EXPECT_EQ(DecodeReply(DecodeStatistics, ReplyRecord(1, { 0x30 })), Lines { "<- Invalid command" });
}
