#pragma once

#include "link/WireVocabulary.h"

#include <string>
#include <string_view>

namespace orvex {

enum class SimControlVerb {
    Insert,        // insert TYPE
    InsertBarcode, // insert-barcode TEXT
    Auto,          // auto SECONDS (0 = off)
    Take,
    Jam,           // jam [acceptor|stacker]
    BoxRemove,
    BoxInsert,
    PowerCut,
    Silent,        // silent on|off
    Corrupt,       // corrupt next
    Garbage,       // garbage next
    Nak,           // nak next
    Busy,          // busy SECONDS
    Fail,          // fail CODE [Z2 [Z3]], hexadecimal
    State,
    Help,
    Quit,
};

inline constexpr int kSimJamAuto = 0;
inline constexpr int kSimJamAcceptor = wire::kJamInAcceptor;
inline constexpr int kSimJamStacker = wire::kJamInStacker;

struct SimControlCommand {
    SimControlVerb verb { SimControlVerb::State };
    int number { 0 };      // bill type, failure code or jam place
    int second { -1 };     // failure bytes Z2, Z3 (-1 = default)
    int third { -1 };
    double seconds { 0 };  // auto, busy
    bool on { false };     // silent
    std::string text;      // barcode
};

struct SimControlParse {
    bool ok { false };
    bool empty { false };  // a blank line: nothing to do, nothing to answer
    SimControlCommand command;
    std::string error;     // "error: <word>: <reason>"
};

inline constexpr std::size_t kSimMaxControlLine = 256;

// One control line into a command. Pure; any input gives a result.
SimControlParse ParseControlLine(std::string_view line);

// The control commands, one per line, for --help and "help".
const char* SimControlHelp();

} // namespace orvex
