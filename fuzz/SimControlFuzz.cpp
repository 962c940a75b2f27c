// The virtual peripheral's control-command parser on any line: every line
// gets exactly one answer, an error names a word and a reason, and what
// parses is within the ranges the commands allow.
#include "sim/SimControl.h"
#include "support/FuzzCheck.h"

#include <cmath>
#include <string>

using namespace orvex;
using namespace orvex::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    std::string_view line(reinterpret_cast<const char*>(bytes), size);
    SimControlParse parse = ParseControlLine(line);
    if (parse.empty) {
        Check(!parse.ok || parse.error.empty(), "a blank line with an error");
        return 0;
    }
    if (!parse.ok) {
        Check(parse.error.compare(0, 7, "error: ") == 0, "an error that does not start with \"error: \"", parse.error);
        Check(parse.error.size() > 7 && parse.error.find('\n') == std::string::npos, "an error without its word and reason, or on two lines", parse.error);
        return 0;
    }
    Check(parse.error.empty(), "a parsed line with an error text");
    const SimControlCommand& command = parse.command;
    Check(std::isfinite(command.seconds) && command.seconds >= 0, "seconds that are negative or not finite");
    Check(command.text.size() <= line.size(), "a text longer than the line");
    return 0;
}
