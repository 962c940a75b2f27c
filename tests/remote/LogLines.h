#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace orvex::test {

// The index of the first line at or after `from` that starts with `prefix`;
// lines.size() when there is none.
inline std::size_t Find(const std::vector<std::string>& lines, const std::string& prefix, std::size_t from = 0)
{
    for (std::size_t i = from; i < lines.size(); ++i) {
        if (lines[i].rfind(prefix, 0) == 0)
            return i;
    }
    return lines.size();
}

} // namespace orvex::test
