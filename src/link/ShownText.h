#pragma once

#include <string>
#include <string_view>

namespace orvex {

// A word or value as a message shows it: always on one line and of a
// readable length. Control characters show as \xNN; past 60 characters
// the text is cut and its length given after the closing quote. `quote`
// is put around the text ("" for none).
std::string ShownText(std::string_view text, std::string_view quote = "\"");

} // namespace orvex
