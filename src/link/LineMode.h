#pragma once

#include <optional>
#include <string_view>

namespace orvex {

enum class Parity { None, Even, Odd };

// A line-mode text such as "9600,n,8,1": baud, parity, data bits, stop bits.
struct LineMode {
    int baud { 9600 };
    Parity parity { Parity::None };
    int dataBits { 8 };
    int stopBits { 1 };
};

// Empty when the text does not parse or names a baud rate termios lacks.
std::optional<LineMode> ParseLineMode(std::string_view text);

} // namespace orvex
