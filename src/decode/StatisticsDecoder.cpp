#include "decode/Decoders.h"
#include "decode/FrameBytes.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace orvex {

namespace {

constexpr CommonStartRule kStatisticsStart { ShortReply::AcknowledgeOneToSix, InvalidCommandCheck::Skip,
    ByteSource::RecordFrame };

constexpr int kBlocks = 16;
constexpr int kBlockSize = 179;
constexpr int kFirstBlock = 37;
constexpr int kDenominations = 20;
constexpr int kFirstDenomination = 4241;
constexpr int kCurrencyNames = 4341;
constexpr int kByteCounters = 13;

constexpr std::string_view kDashes = "------------------------------------------";

constexpr std::string_view kByteCounterLabels[kByteCounters] = {
    "<-  Number of magnetic failures: ",
    "<-  Number of optical failures: ",
    "<-  Number of transport mechanism failures: ",
    "<-  Number of stacking mechanism failures: ",
    "<-  Number of aligning mechanism failures: ",
    "<-  Number of jams in drop cassette: ",
    "<-  Number of jams at entrance sensor: ",
    "<-  Number of jams at input and aligning sensors: ",
    "<-  Number of jams at alignment sensor: ",
    "<-  Number of jams at alignment and optical sensors: ",
    "<-  Number of jams at optical sensors: ",
    "<-  Number of jams at optical and exit sensors: ",
    "<-  Number of jams at exit sensor: ",
};

// The sixteen counter blocks summed field by field, each kept in the width
// of its field so the totals wrap as the device's do.
struct Totals {
    std::uint16_t inserted { 0 };
    std::array<std::uint16_t, kDenominations> accepted {};
    std::array<std::uint16_t, kDenominations> optic {};
    std::array<std::uint16_t, kDenominations> magnetic {};
    std::array<std::uint16_t, kDenominations> capacity {};
    std::uint16_t unrecognized { 0 };
    std::uint16_t length { 0 };
    std::array<std::uint8_t, kByteCounters> failures {};
};

Totals SumBlocks(const CFrameBytes& bytes)
{
    Totals totals;
    for (int block = 0; block < kBlocks; ++block) {
        int base = kFirstBlock + kBlockSize * block;
        // Past a short frame the counters read as 0.
        if (base >= bytes.DataEnd())
            break;
        totals.inserted = static_cast<std::uint16_t>(totals.inserted + bytes.Little16(base));
        for (int denomination = 0; denomination < kDenominations; ++denomination) {
            auto index = static_cast<std::size_t>(denomination);
            int offset = base + 2 * denomination;
            totals.accepted[index] = static_cast<std::uint16_t>(totals.accepted[index] + bytes.Little16(offset + 2));
            totals.optic[index] = static_cast<std::uint16_t>(totals.optic[index] + bytes.Little16(offset + 42));
            totals.magnetic[index] = static_cast<std::uint16_t>(totals.magnetic[index] + bytes.Little16(offset + 82));
            totals.capacity[index] = static_cast<std::uint16_t>(totals.capacity[index] + bytes.Little16(offset + 122));
        }
        totals.unrecognized = static_cast<std::uint16_t>(totals.unrecognized + bytes.Little16(base + 162));
        totals.length = static_cast<std::uint16_t>(totals.length + bytes.Little16(base + 164));
        for (int counter = 0; counter < kByteCounters; ++counter) {
            auto index = static_cast<std::size_t>(counter);
            totals.failures[index] = static_cast<std::uint8_t>(totals.failures[index] + bytes.Byte(base + 166 + counter));
        }
    }
    return totals;
}

// Builds one line from pieces in a fixed buffer; about 130 lines per reply
// make printf's format parsing the larger part of the cost otherwise.
class CLineBuilder {
public:
    CLineBuilder& Text(std::string_view text)
    {
        std::size_t length = std::min(text.size(), sizeof m_text - m_length);
        // An empty view (a short frame's missing names) may have no data at all.
        if (length != 0)
            std::memcpy(m_text + m_length, text.data(), length);
        m_length += length;
        return *this;
    }
    CLineBuilder& Number(std::int64_t value)
    {
        auto result = std::to_chars(m_text + m_length, m_text + sizeof m_text, value);
        if (result.ec == std::errc())
            m_length = static_cast<std::size_t>(result.ptr - m_text);
        return *this;
    }
    void AddTo(DecodeOutput& output)
    {
        output.Add(std::string_view(m_text, m_length));
        m_length = 0;
    }

private:
    char m_text[256];
    std::size_t m_length { 0 };
};

} // namespace

std::string DecodeStatistics(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kStatisticsStart, bytes, result))
        return result;
    CLineBuilder line;
    if (bytes.Raw(1) != 1) {
        output.Add("<-  Statistics for this device is not supported");
        return {};
    }

    line.Text("<-  Country Code :").Text(bytes.Text(5, 3)).AddTo(output);
    line.Text("<-  Number of denominations : ").Number(bytes.Byte(8)).AddTo(output);
    line.Text("<-  Data format version : ").Number(bytes.Byte(9)).AddTo(output);
    std::string date;
    if (!FormatCalendarTime(bytes.Little16(10), bytes.Byte(12), bytes.Byte(13), bytes.Byte(14), bytes.Byte(15),
            bytes.Byte(16), date))
        date = "Invalid data";
    line.Text("<-  Statistics reset date : ").Text(date).AddTo(output);
    line.Text("<-  Serial number :").Text(bytes.Text(18, 12)).AddTo(output);
    output.Add("----------------1/10000-----------------");

    Totals totals = SumBlocks(bytes);
    line.Text("<-  Number of inserted bills: ").Number(totals.inserted).AddTo(output);
    line.Text("<-  Number of unrecognized bills: ").Number(totals.unrecognized).AddTo(output);
    line.Text("<-  Number of bills returned by length: ").Number(totals.length).AddTo(output);
    output.Add(kDashes);
    for (int denomination = 0; denomination < kDenominations; ++denomination) {
        auto index = static_cast<std::size_t>(denomination);
        line.Text("<-  Denomination ").Number(denomination + 1).Text(":").AddTo(output);
        line.Text("<-  Number of accepted bills: ").Number(totals.accepted[index]).AddTo(output);
        line.Text("<-  Number of bills returned by optic params: ").Number(totals.optic[index]).AddTo(output);
        line.Text("<-  Number of bills returned by magnetic params: ").Number(totals.magnetic[index]).AddTo(output);
        line.Text("<-  Number of bills returned by capacity: ").Number(totals.capacity[index]).AddTo(output);
        output.Add(kDashes);
    }
    for (int counter = 0; counter < kByteCounters; ++counter) {
        auto index = static_cast<std::size_t>(counter);
        line.Text(kByteCounterLabels[index]).Number(totals.failures[index]).AddTo(output);
    }
    output.Add("----------------Table of denominations-----------------");

    // The names end at a zero byte or at the check code; a "." ends the
    // list of names that the device shows first.
    std::string_view names = bytes.TextToZero(kCurrencyNames);
    line.Text("<-  Currency names: ").Text(names.substr(0, names.find('.'))).AddTo(output);

    for (int denomination = 0; denomination < kDenominations; ++denomination) {
        int offset = kFirstDenomination + 5 * denomination;
        std::uint8_t first = bytes.Byte(offset);
        std::uint32_t value = first & 0x3F;
        for (int power = 0; power < bytes.Byte(offset + 4) && value != 0; ++power)
            value *= 10;
        int issue = first >> 6;
        std::string_view issueText = issue == 0 ? "Old" : issue == 1 ? "New" : "";
        // Printed as the signed 32-bit number the device's arithmetic gives.
        line.Text("<-  Denomination ").Number(denomination + 1).Text(": ").Text(issueText).Text(" ");
        line.Number(static_cast<std::int32_t>(value)).Text(" ").Text(bytes.Text(offset + 1, 3)).AddTo(output);
    }
    return {};
}

} // namespace orvex
