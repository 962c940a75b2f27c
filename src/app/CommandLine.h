#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// The words of the program's command line that act.
struct CommandLine {
    static constexpr std::size_t kMaxWords = 6;
    static constexpr std::size_t kMaxWordLength = 1023;

    std::vector<std::string> words; // at most six, each at most 1023 characters
    bool setMode { false };         // "SET": write the cassette default types and end
    bool escrowOff { false };       // "ED": the escrow mask starts at 0

    // Splits at white space; words past the sixth are ignored and a longer
    // word is cut at 1023 characters. Words compare in full and
    // case-sensitively; every other word is accepted without effect.
    static CommandLine Parse(std::string_view text);
    static CommandLine Parse(const std::vector<std::string>& arguments);
};

} // namespace orvex
