#include "support/FuzzCheck.h"

#include <cstdio>
#include <cstdlib>

namespace orvex::fuzz {

void Fail(const char* what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void Fail(const char* what, std::string_view text)
{
    std::fprintf(stderr, "invariant broken: %s: \"", what);
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\')
            std::fprintf(stderr, "\\x%02X", c);
        else
            std::fputc(c, stderr);
    }
    std::fprintf(stderr, "\"\n");
    std::abort();
}

} // namespace orvex::fuzz
