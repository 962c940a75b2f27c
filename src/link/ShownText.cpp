#include "link/ShownText.h"

#include <cstdio>

namespace orvex {

std::string ShownText(std::string_view text, std::string_view quote)
{
    constexpr std::size_t kShown = 60;
    std::string shown(quote);
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    if (text.size() <= kShown)
        return shown.append(quote);
    return shown.append("...").append(quote) + " (" + std::to_string(text.size()) + " characters)";
}

} // namespace orvex
