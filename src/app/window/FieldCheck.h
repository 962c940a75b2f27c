#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// The number kinds of the window's edit fields, as the dialog framework
// reads them: a signed integer, an unsigned integer, a byte.
enum class FieldKind { Integer, Unsigned, Byte };

// Blanks around the number are allowed, a sign only where the kind takes
// one ("+" anywhere); nothing else. Empty when the text is no number of
// the kind or lies outside its type.
std::optional<std::int64_t> ParseField(std::string_view text, FieldKind kind);

// The framework's standard message for a field of the kind that failed.
std::string FieldMessage(FieldKind kind);
// The message for a number outside a narrower range.
std::string RangeMessage(int minimum, int maximum);

} // namespace orvex
