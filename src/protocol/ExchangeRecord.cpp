#include "protocol/ExchangeRecord.h"

#include "link/CCommand.h"

namespace orvex {

namespace {

constexpr std::size_t kHexCharactersPerLine = 60; // 20 bytes of "%02X "

} // namespace

void AppendRecordLines(std::vector<std::string>& record, std::string_view prefix, const std::uint8_t* bytes, int count)
{
    const std::string hex = HexText(bytes, count);
    for (std::size_t start = 0; start < hex.size(); start += kHexCharactersPerLine) {
        std::string line(prefix);
        line.append(hex, start, kHexCharactersPerLine);
        record.push_back(std::move(line));
    }
}

} // namespace orvex
