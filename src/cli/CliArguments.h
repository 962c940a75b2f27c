#pragma once

#include "app/CommandId.h"
#include "app/PanelMembers.h"
#include "cli/WireOptions.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// One button command with the members it runs on.
struct CliCommand {
    std::string name; // "poll", "bill-type", ...
    PanelMembers members;
    std::optional<CommandId> id; // the button; none for polling
};

// What --rts asks of the RTS line once the port is open.
enum class RtsChoice {
    Untouched, // no --rts: the line stays as opening leaves it (low)
    Raised,    // --rts on
    Dropped,   // --rts off
};

// What orvexctl was asked to do.
struct CliOptions {
    std::string port { "COM1" }; // as given
    int portIndex { 0 };         // slot of the port table; 0 for a device path
    std::string portPath;        // a device path given instead of COMn
    int baud { 9600 };
    int address { 3 };
    int timeout { 200 };
    int intercommand { 20 };
    int pollInterval { 150 };
    bool raw { false };
    bool decode { true };
    RtsChoice rts { RtsChoice::Untouched };
    bool help { false };
    bool version { false };

    // "ports", "search", "polling", "script" or a button command.
    std::string command;
    CliCommand button;                   // a button command, or polling's members
    std::vector<std::string> searchWords; // search
    double seconds { -1.0 };             // polling: < 0 runs until a signal
    std::string scriptPath;              // script: a file, or "-" for standard input
    WireOptions wire;                    // --capture, --json, --timestamps
};

struct CliParseResult {
    bool ok { false };
    std::string error; // names the word and the reason
    CliOptions options;
};

// The command line after the program name. Pure: no I/O, no globals.
CliParseResult ParseArguments(const std::vector<std::string>& arguments);

bool IsButtonCommand(std::string_view name);
// A button command and its arguments onto `members` (defaults already in).
bool ParseButtonCommand(const std::vector<std::string>& words, PanelMembers& members, std::string& error);
// The members every command of this run starts from: the window's
// initial values with the address and display options applied.
PanelMembers BaseMembers(const CliOptions& options);

// A script's text: one button command per line; blank lines and lines
// starting with '#' are skipped. Fails (naming the line) on the first
// malformed line, so nothing is sent from a script with a mistake in it.
bool ParseScript(std::string_view text, const PanelMembers& base, std::vector<CliCommand>& commands, std::string& error);

// The usage text.
std::string UsageText();

} // namespace orvex
