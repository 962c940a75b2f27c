#include "app/window/FieldCheck.h"

#include <limits>

namespace orvex {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

} // namespace

std::optional<std::int64_t> ParseField(std::string_view text, FieldKind kind)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        // Past any field's type already; stop before the arithmetic wraps.
        if (value > std::numeric_limits<std::uint32_t>::max() + std::uint64_t { 1 })
            return std::nullopt;
    }
    std::int64_t number = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
    switch (kind) {
    case FieldKind::Integer:
        if (number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::int32_t>::max())
            return std::nullopt;
        break;
    case FieldKind::Unsigned:
        if (negative && value != 0)
            return std::nullopt;
        if (number > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
        break;
    case FieldKind::Byte:
        if ((negative && value != 0) || number > 255)
            return std::nullopt;
        break;
    }
    return number;
}

std::string FieldMessage(FieldKind kind)
{
    switch (kind) {
    case FieldKind::Integer:
        return "Please enter an integer.";
    case FieldKind::Unsigned:
        return "Please enter a positive integer.";
    case FieldKind::Byte:
        return "Please enter an integer between 0 and 255.";
    }
    return {};
}

std::string RangeMessage(int minimum, int maximum)
{
    return "Please enter an integer between " + std::to_string(minimum) + " and " + std::to_string(maximum) + ".";
}

} // namespace orvex
