#pragma once

#include <cstdint>

namespace orvex {

// Packed BCD, two decimal digits a byte, as the unit's clock record
// carries each of its fields.

inline std::uint8_t ToBcd(int value)
{
    return static_cast<std::uint8_t>((value / 10 % 10) << 4 | value % 10);
}

// The byte read as two digits whatever its nibbles hold: a log shows what
// the unit sent, even a nibble above 9.
inline int BcdValue(std::uint8_t byte)
{
    return (byte >> 4) * 10 + (byte & 0x0F);
}

// False when a nibble is no decimal digit.
inline bool FromBcd(std::uint8_t byte, int& value)
{
    if ((byte >> 4) > 9 || (byte & 0x0F) > 9)
        return false;
    value = BcdValue(byte);
    return true;
}

} // namespace orvex
