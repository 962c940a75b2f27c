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

} // namespace orvex::fuzz
