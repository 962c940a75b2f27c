#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// Appends the record lines of one frame: the prefix ("-> " or "<- ") and
// the frame's hex text cut into pieces of at most 60 characters (20 bytes).
void AppendRecordLines(std::vector<std::string>& record, std::string_view prefix, const std::uint8_t* bytes, int count);

} // namespace orvex
