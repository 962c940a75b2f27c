#include "decode/Decoders.h"
#include "decode/FrameBytes.h"

#include <array>
#include <cstdio>

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

constexpr const char* kByteCounterTexts[kByteCounters] = {
    "<-  Number of magnetic failures: %d",
    "<-  Number of optical failures: %d",
    "<-  Number of transport mechanism failures: %d",
    "<-  Number of stacking mechanism failures: %d",
    "<-  Number of aligning mechanism failures: %d",
    "<-  Number of jams in drop cassette: %d",
    "<-  Number of jams at entrance sensor: %d",
    "<-  Number of jams at input and aligning sensors: %d",
    "<-  Number of jams at alignment sensor: %d",
    "<-  Number of jams at alignment and optical sensors: %d",
    "<-  Number of jams at optical sensors: %d",
    "<-  Number of jams at optical and exit sensors: %d",
    "<-  Number of jams at exit sensor: %d",
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

class CLineWriter {
public:
    explicit CLineWriter(DecodeOutput& output)
        : m_output(output)
    {
    }

    template <typename... Values>
    void Add(const char* format, Values... values)
    {
        char text[256];
        int length = std::snprintf(text, sizeof text, format, values...);
        if (length < 0)
            length = 0;
        m_output.Add(std::string(text, std::min(static_cast<std::size_t>(length), sizeof text - 1)));
    }
    void Add(std::string_view line) { m_output.Add(std::string(line)); }

private:
    DecodeOutput& m_output;
};

} // namespace

std::string DecodeStatistics(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kStatisticsStart, bytes, result))
        return result;
    CLineWriter lines(output);
    if (bytes.Raw(1) != 1) {
        lines.Add("<-  Statistics for this device is not supported");
        return {};
    }

    output.lines.reserve(output.lines.size() + 140);
    std::string country(bytes.Text(5, 3));
    lines.Add("<-  Country Code :%s", country.c_str());
    lines.Add("<-  Number of denominations : %d", bytes.Byte(8));
    lines.Add("<-  Data format version : %d", bytes.Byte(9));
    std::string date;
    if (!FormatCalendarTime(bytes.Little16(10), bytes.Byte(12), bytes.Byte(13), bytes.Byte(14), bytes.Byte(15),
            bytes.Byte(16), date))
        date = "Invalid data";
    lines.Add("<-  Statistics reset date : %s", date.c_str());
    std::string serial(bytes.Text(18, 12));
    lines.Add("<-  Serial number :%s", serial.c_str());
    lines.Add("----------------1/10000-----------------");

    Totals totals = SumBlocks(bytes);
    lines.Add("<-  Number of inserted bills: %d", totals.inserted);
    lines.Add("<-  Number of unrecognized bills: %d", totals.unrecognized);
    lines.Add("<-  Number of bills returned by length: %d", totals.length);
    lines.Add(kDashes);
    for (int denomination = 0; denomination < kDenominations; ++denomination) {
        auto index = static_cast<std::size_t>(denomination);
        lines.Add("<-  Denomination %d:", denomination + 1);
        lines.Add("<-  Number of accepted bills: %d", totals.accepted[index]);
        lines.Add("<-  Number of bills returned by optic params: %d", totals.optic[index]);
        lines.Add("<-  Number of bills returned by magnetic params: %d", totals.magnetic[index]);
        lines.Add("<-  Number of bills returned by capacity: %d", totals.capacity[index]);
        lines.Add(kDashes);
    }
    for (int counter = 0; counter < kByteCounters; ++counter)
        lines.Add(kByteCounterTexts[counter], totals.failures[static_cast<std::size_t>(counter)]);
    lines.Add("----------------Table of denominations-----------------");

    // The names end at a zero byte or at the check code; a "." ends the
    // list of names that the device shows first.
    std::string names = "<-  Currency names: ";
    std::string_view text = bytes.TextToZero(kCurrencyNames);
    std::size_t stop = text.find('.');
    names.append(text.substr(0, stop));
    output.Add(std::move(names));

    for (int denomination = 0; denomination < kDenominations; ++denomination) {
        int offset = kFirstDenomination + 5 * denomination;
        std::uint8_t first = bytes.Byte(offset);
        std::uint32_t value = first & 0x3F;
        for (int power = 0; power < bytes.Byte(offset + 4) && value != 0; ++power)
            value *= 10;
        int issue = first >> 6;
        const char* issueText = issue == 0 ? "Old" : issue == 1 ? "New" : "";
        std::string code(bytes.Text(offset + 1, 3));
        lines.Add("<-  Denomination %d: %s %d %s", denomination + 1, issueText, static_cast<std::int32_t>(value),
            code.c_str());
    }
    return {};
}

} // namespace orvex
