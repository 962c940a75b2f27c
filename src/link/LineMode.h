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

// The bus's two line modes, 8 data bits, no parity, one stop bit.
inline constexpr const char* kMode9600 = "9600,n,8,1";
inline constexpr const char* kMode19200 = "19200,n,8,1";
// The mode text of a bus speed: 19200, or 9600 for anything else.
inline constexpr const char* ModeTextFor(int baud) { return baud == 19200 ? kMode19200 : kMode9600; }

} // namespace orvex
