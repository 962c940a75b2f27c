#pragma once

#include <string>
#include <vector>

namespace orvex {

// The options of every orvexctl command that watch, keep or print the
// wire for programs.
struct WireOptions {
    std::string capturePath; // --capture FILE: a pcapng capture of every frame
    bool json { false };     // --json: one JSON object per exchange on standard output
    bool timestamps { false }; // --timestamps: µs wall-clock time on every header
    bool Any() const { return !capturePath.empty() || json || timestamps; }
};

// Takes --capture FILE, --json and --timestamps out of the options before
// the command word, so the rest parses as it always has.
bool ExtractWireOptions(std::vector<std::string>& arguments, WireOptions& options, std::string& error);

// monitor, relay and decode, with their options.
struct WireCommand {
    std::string command;
    WireOptions wire;
    bool raw { false };
    bool decode { true };
    int baud { 9600 };
    std::vector<std::string> ports; // monitor: one or two; relay: the controller's, then the unit's
    std::string file;               // decode
    double seconds { -1.0 };        // < 0 runs until a signal
    int gapMilliseconds { 50 };     // monitor and relay: a silence this long ends a frame
    int address { -1 };             // decode: only exchanges with this address
    std::vector<std::string> names; // decode: only exchanges with one of these log names
};

// True when the command word is monitor, relay or decode.
bool IsWireCommand(const std::vector<std::string>& arguments);
// The whole command line of monitor, relay or decode (the run-wide options
// may come before or after the command word).
bool ParseWireCommand(const std::vector<std::string>& arguments, WireCommand& command, std::string& error);

} // namespace orvex
