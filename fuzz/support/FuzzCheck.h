#pragma once

#include <string_view>

namespace orvex::fuzz {

// Stops the run with a message when an invariant of the code under test
// does not hold; libFuzzer records the input as a finding.
[[noreturn]] void Fail(const char* what);
// The same, showing the text it is about with control bytes escaped.
[[noreturn]] void Fail(const char* what, std::string_view text);
inline void Check(bool condition, const char* what)
{
    if (!condition)
        Fail(what);
}
inline void Check(bool condition, const char* what, std::string_view text)
{
    if (!condition)
        Fail(what, text);
}
// Whether a line holds a CR or an LF. (find_first_of("\r\n") looks the
// set up once per character, a sanitized memchr call each.)
inline bool HasLineBreak(std::string_view line)
{
    return line.find('\n') != std::string_view::npos || line.find('\r') != std::string_view::npos;
}

} // namespace orvex::fuzz
