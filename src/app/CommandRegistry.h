#pragma once

#include "app/COperatorPanel.h"
#include "app/CommandId.h"

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace orvex {

class CKRMSProtocol;

// How the word of an argument is read.
enum class ArgumentKind {
    Hex,    // 1 to `maximum` hexadecimal digits, kept as text in upper case
    Number, // a whole number from `minimum` to `maximum`
    Word,   // one of `choices`
};

enum class ArgumentNeed { Required, Optional };

// One argument of a command: what orvexctl reads, what its usage and the
// command table show, and the member it fills.
struct CommandArgument {
    std::string_view name; // "ENABLED"; a word argument shows its choices
    ArgumentKind kind;
    ArgumentNeed need;
    // What a refusal says after the quoted word: "the escrow mask" (then
    // "must be ..."), or, for a word argument, the whole reason.
    std::string_view what;
    long long minimum;
    long long maximum;
    std::string_view defaultText; // the member's initial value as a word; empty when there is none
    std::array<std::string_view, 3> choices;
    // Fills the member: `number` for a number (and the index of a word's
    // choice), `text` (upper case) for a hexadecimal value.
    void (*store)(PanelMembers& members, long long number, const std::string& text);
};

// Whether polling mode disables the button.
enum class PollingUse { Disabled, Allowed };

// How a command's optional arguments are written in the usage: each
// inside the one before ("[A [B]]"), or all in one pair ("[A B]").
enum class OptionalStyle { Nested, Together };

// The text a failed command adds to its prefix.
enum class FailureText { Protocol, Device };

// What a plain row sends: one protocol command with the members' values.
using CommandExchange = bool (*)(CKRMSProtocol& protocol, const PanelMembers& members);

// One command button of the main window, as both front ends see it.
struct CommandRow {
    CommandId id;
    int control;              // the window's control identifier
    std::string_view caption; // the button's caption, as the window shows it
    std::string_view word;    // orvexctl's word
    std::string_view logName; // the exchange log's name for what it sends; empty for a sequence
    PollingUse polling;
    const char* before;       // shown in the result line before sending; null leaves it
    std::string_view success; // the result line on success; empty: none is shown
    std::string_view prefix;  // the result line's prefix on failure
    FailureText failure;
    COperatorPanel::RowHandler handler; // &COperatorPanel::SendExchange for a plain row
    CommandExchange exchange;           // a plain row's command; null otherwise
    std::span<const CommandArgument> arguments;
    OptionalStyle optionalStyle;
    int usageLine;                      // rows with the same number share a line of the usage
};

// Every row, in CommandId order. For front ends and generators (usage,
// documentation, shell completion, manual pages).
std::span<const CommandRow> CommandRows();
// Every row has a handler, and a plain row (and only a plain row) sends its
// command through SendExchange; tests hold the table to it.
bool CommandHandlersWired();
const CommandRow& Command(CommandId id);
// The row of an orvexctl word; null when there is none.
const CommandRow* FindCommandWord(std::string_view word);

// The command's words as orvexctl's usage shows them: "bill-type [ENABLED [ESCROW]]".
std::string CommandSynopsis(const CommandRow& row);
// How many arguments the command takes at least and at most.
std::size_t RequiredArguments(const CommandRow& row);

// The command table of docs/orvexctl.md, in Markdown.
std::string CommandTableMarkdown();

} // namespace orvex
