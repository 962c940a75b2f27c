#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace orvex {

// A hexadecimal field as the window reads it: leading blanks skipped, an
// optional "0x", then the hexadecimal digits up to the first other
// character. Empty when no hexadecimal digit comes first. Digits beyond
// 64 bits keep the low 64 bits.
std::optional<std::uint64_t> ParseHexText(std::string_view text);

} // namespace orvex
