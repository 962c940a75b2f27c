// orvexctl's argument and script parsers on any words: a result for every
// input, an error that is one line naming a word or line and a reason,
// and what parses stays within the ranges of the options.
//
// Input: a mode byte (bit 0: a script text instead of words), then the
// words, each ended by a NUL (at most 24), or the script text.
#include "cli/CliArguments.h"
#include "support/CFuzzInput.h"
#include "support/FuzzCheck.h"

#include <string>
#include <vector>

using namespace orvex;
using namespace orvex::fuzz;

namespace {

void CheckError(const std::string& error)
{
    Check(!error.empty(), "a refusal without a message");
    Check(error.find_first_of("\r\n") == std::string::npos, "an error message on more than one line", error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    CFuzzInput input(bytes, size);
    std::uint8_t mode = input.Byte();
    if (mode & 1) {
        std::string_view text = input.Rest();
        std::vector<CliCommand> commands;
        std::string error;
        PanelMembers base;
        if (ParseScript(text, base, commands, error)) {
            for (const CliCommand& command : commands)
                Check(IsButtonCommand(command.name), "a script command that is no button command", command.name);
        } else {
            CheckError(error);
            Check(error.compare(0, 5, "line ") == 0, "a script error that does not name its line", error);
        }
        return 0;
    }

    std::vector<std::string> words;
    while (!input.Empty() && words.size() < 24)
        words.push_back(input.Text());
    CliParseResult result = ParseArguments(words);
    if (!result.ok) {
        CheckError(result.error);
        return 0;
    }
    Check(result.error.empty(), "accepted with an error message", result.error);
    const CliOptions& options = result.options;
    // --help and --version answer without a command or a port.
    if (options.help || options.version)
        return 0;
    Check(options.portIndex >= 0 && options.portIndex < 16, "a port slot outside COM1..COM16");
    Check(options.baud == 9600 || options.baud == 19200, "a speed other than 9600 or 19200");
    Check(options.address >= 0 && options.address <= 4, "an address outside 0..4");
    Check(options.timeout >= 0 && options.intercommand >= 0 && options.pollInterval >= 0, "a negative time");
    Check(!options.command.empty(), "accepted without a command");
    return 0;
}
