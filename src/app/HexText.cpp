#include "app/HexText.h"

#include <cctype>

namespace orvex {

std::optional<std::uint64_t> ParseHexText(std::string_view text)
{
    std::size_t position = 0;
    while (position < text.size() && std::isspace(static_cast<unsigned char>(text[position])))
        ++position;
    if (text.size() - position > 2 && text[position] == '0' && (text[position + 1] == 'x' || text[position + 1] == 'X')
        && std::isxdigit(static_cast<unsigned char>(text[position + 2])))
        position += 2;
    std::uint64_t value = 0;
    bool any = false;
    for (; position < text.size(); ++position) {
        const unsigned char character = static_cast<unsigned char>(text[position]);
        if (!std::isxdigit(character))
            break;
        const int digit = std::isdigit(character) ? character - '0' : std::toupper(character) - 'A' + 10;
        value = (value << 4) | static_cast<std::uint64_t>(digit);
        any = true;
    }
    if (!any)
        return std::nullopt;
    return value;
}

} // namespace orvex
