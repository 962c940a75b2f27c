#include "link/LineMode.h"

#include <array>
#include <charconv>
#include <string_view>

namespace orvex {

namespace {

constexpr std::array kStandardBauds { 50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600,
    19200, 38400, 57600, 115200, 230400, 460800, 500000, 576000, 921600, 1000000, 1152000, 1500000, 2000000,
    2500000, 3000000, 3500000, 4000000 };

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::optional<int> ParseNumber(std::string_view text)
{
    text = Trim(text);
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<LineMode> ParseLineMode(std::string_view text)
{
    std::array<std::string_view, 4> fields;
    std::size_t count = 0;
    while (true) {
        auto comma = text.find(',');
        if (count == fields.size())
            return std::nullopt;
        fields[count++] = text.substr(0, comma);
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    if (count != fields.size())
        return std::nullopt;

    LineMode mode;
    auto baud = ParseNumber(fields[0]);
    if (!baud)
        return std::nullopt;
    bool known = false;
    for (int standard : kStandardBauds)
        known = known || standard == *baud;
    if (!known)
        return std::nullopt;
    mode.baud = *baud;

    auto parity = Trim(fields[1]);
    if (parity.size() != 1)
        return std::nullopt;
    switch (parity[0]) {
    case 'n': case 'N': mode.parity = Parity::None; break;
    case 'e': case 'E': mode.parity = Parity::Even; break;
    case 'o': case 'O': mode.parity = Parity::Odd; break;
    default: return std::nullopt;
    }

    auto dataBits = ParseNumber(fields[2]);
    if (!dataBits || *dataBits < 5 || *dataBits > 8)
        return std::nullopt;
    mode.dataBits = *dataBits;

    auto stopBits = ParseNumber(fields[3]);
    if (!stopBits || (*stopBits != 1 && *stopBits != 2))
        return std::nullopt;
    mode.stopBits = *stopBits;
    return mode;
}

} // namespace orvex
