#include "protocol/ExchangeRecord.h"

#include "link/CCommand.h"

#include <algorithm>

namespace orvex {

namespace {

constexpr int kBytesPerLine = 20; // 60 characters of "%02X "

} // namespace

void AppendRecordLines(std::vector<std::string>& record, std::string_view prefix, const std::uint8_t* bytes, int count)
{
    if (bytes == nullptr)
        return;
    for (int start = 0; start < count; start += kBytesPerLine) {
        const int length = std::min(kBytesPerLine, count - start);
        std::string& line = record.emplace_back();
        line.reserve(prefix.size() + static_cast<std::size_t>(length) * 3);
        line.append(prefix);
        AppendHexText(line, bytes + start, length);
    }
}

} // namespace orvex
