// The operator panel's hexadecimal fields (bill masks, security levels,
// options, the diagnostic code and its 64-bit data): the value must be
// what a reading of the text by hand gives, and the low bits of any longer
// run of digits.
#include "app/HexText.h"
#include "support/FuzzCheck.h"

#include <optional>
#include <string>

using namespace orvex;
using namespace orvex::fuzz;

namespace {

bool Space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int Digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Blanks, an optional 0x before a digit, then the digits; the last sixteen
// digits make the value.
std::optional<std::uint64_t> ByHand(std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size() && Space(text[at]))
        ++at;
    if (at + 2 < text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X') && Digit(text[at + 2]) >= 0)
        at += 2;
    std::string digits;
    while (at < text.size() && Digit(text[at]) >= 0)
        digits.push_back(text[at++]);
    if (digits.empty())
        return std::nullopt;
    if (digits.size() > 16)
        digits.erase(0, digits.size() - 16);
    std::uint64_t value = 0;
    for (char c : digits)
        value = value * 16 + static_cast<std::uint64_t>(Digit(c));
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(bytes), size);
    Check(ParseHexText(text) == ByHand(text), "a hexadecimal field read otherwise than by hand", text);
    return 0;
}
