#pragma once

#include "sim/SimTypes.h"

#include <string>
#include <vector>

namespace orvex {

// What orvex-sim was asked to do.
enum class SimRunAction { Serve, Help, Version };

struct SimArguments {
    SimRunAction action { SimRunAction::Serve };
    SimOptions options;
    std::string linkPath;    // --link, with the pty
    std::string portPath;    // --port: serve a real line instead of a pty
    std::string controlPath; // --control
    std::string capturePath; // --capture: every frame of the unit's side in a pcapng capture
    std::string replayPath;  // --replay: answer with the replies recorded in a capture
    int baud { 9600 };
};

// The arguments, or the word at fault and why. Nothing is printed and the
// process is not ended here: main() does that with Message().
struct SimArgumentsResult {
    bool valid { true };
    SimArguments arguments;
    std::string word;
    std::string reason;

    // "orvex-sim: <word>: <reason> (see --help)", on one line, with the
    // word and every quoted value shown readably.
    std::string Message() const;
};

// orvex-sim's command line without the program name.
SimArgumentsResult ParseSimArguments(const std::vector<std::string>& words);

} // namespace orvex
