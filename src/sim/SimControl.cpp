#include "sim/SimControl.h"

#include "link/WireVocabulary.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace orvex {

namespace {

std::vector<std::string> SplitWords(std::string_view line)
{
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at])))
            ++at;
        std::size_t start = at;
        while (at < line.size() && !std::isspace(static_cast<unsigned char>(line[at])))
            ++at;
        if (at > start)
            words.emplace_back(line.substr(start, at - start));
    }
    return words;
}

// Shows a word safely inside an answer line: control bytes become '?'.
std::string Printable(const std::string& word)
{
    std::string shown;
    for (char c : word.substr(0, 40))
        shown += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    if (word.size() > 40)
        shown += "...";
    return shown;
}

SimControlParse Fail(const std::string& word, const std::string& reason)
{
    SimControlParse parse;
    parse.error = "error: " + Printable(word) + ": " + reason;
    return parse;
}

bool ParseDecimal(const std::string& word, int low, int high, int& value)
{
    if (word.empty() || word.size() > 6)
        return false;
    for (char c : word)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    value = std::atoi(word.c_str());
    return value >= low && value <= high;
}

bool ParseSeconds(const std::string& word, double& seconds)
{
    if (word.empty() || word.size() > 16)
        return false;
    for (char c : word)
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.')
            return false;
    char* end = nullptr;
    seconds = std::strtod(word.c_str(), &end);
    return end && *end == '\0' && std::isfinite(seconds) && seconds >= 0 && seconds <= 3600;
}

// Protocol codes are written in hexadecimal, with or without 0x.
bool ParseHexByte(const std::string& word, int& value)
{
    std::string digits = word;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 2)
        return false;
    for (char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    value = static_cast<int>(std::strtol(digits.c_str(), nullptr, 16));
    return true;
}

SimControlParse Ok(SimControlVerb verb)
{
    SimControlParse parse;
    parse.ok = true;
    parse.command.verb = verb;
    return parse;
}

// The words after the verb must number between `least` and `most`.
bool CheckCount(const std::vector<std::string>& words, std::size_t least, std::size_t most, SimControlParse& failure)
{
    if (words.size() - 1 < least) {
        failure = Fail(words[0], "missing argument (see help)");
        return false;
    }
    if (words.size() - 1 > most) {
        failure = Fail(words[most + 1], "unexpected word after " + words[0]);
        return false;
    }
    return true;
}

} // namespace

SimControlParse ParseControlLine(std::string_view line)
{
    if (line.size() > kSimMaxControlLine)
        return Fail(std::string(line.substr(0, 16)), "line too long (at most 256 characters)");
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    std::vector<std::string> words = SplitWords(line);
    if (words.empty()) {
        SimControlParse parse;
        parse.ok = true;
        parse.empty = true;
        return parse;
    }
    const std::string& verb = words[0];
    SimControlParse failure;

    struct Plain {
        const char* word;
        SimControlVerb verb;
    };
    static const Plain plain[] = {
        { "take", SimControlVerb::Take },
        { "box-remove", SimControlVerb::BoxRemove },
        { "box-insert", SimControlVerb::BoxInsert },
        { "power-cut", SimControlVerb::PowerCut },
        { "state", SimControlVerb::State },
        { "help", SimControlVerb::Help },
        { "quit", SimControlVerb::Quit },
    };
    for (const Plain& entry : plain) {
        if (verb == entry.word) {
            if (!CheckCount(words, 0, 0, failure))
                return failure;
            return Ok(entry.verb);
        }
    }

    if (verb == "insert") {
        if (!CheckCount(words, 1, 1, failure))
            return failure;
        SimControlParse parse = Ok(SimControlVerb::Insert);
        if (!ParseDecimal(words[1], 0, 23, parse.command.number))
            return Fail(words[1], "not a bill type (0 to 23)");
        return parse;
    }
    if (verb == "insert-barcode") {
        if (!CheckCount(words, 1, 1, failure))
            return failure;
        if (words[1].size() > 64)
            return Fail(words[1], "barcode longer than 64 characters");
        for (char c : words[1])
            if (!std::isprint(static_cast<unsigned char>(c)))
                return Fail(words[1], "barcode holds a character that is not printable");
        SimControlParse parse = Ok(SimControlVerb::InsertBarcode);
        parse.command.text = words[1];
        return parse;
    }
    if (verb == "auto" || verb == "busy") {
        if (!CheckCount(words, 1, 1, failure))
            return failure;
        SimControlParse parse = Ok(verb == "auto" ? SimControlVerb::Auto : SimControlVerb::Busy);
        if (!ParseSeconds(words[1], parse.command.seconds))
            return Fail(words[1], "not a number of seconds (0 to 3600)");
        return parse;
    }
    if (verb == "silent") {
        if (!CheckCount(words, 1, 1, failure))
            return failure;
        if (words[1] != "on" && words[1] != "off")
            return Fail(words[1], "expected on or off");
        SimControlParse parse = Ok(SimControlVerb::Silent);
        parse.command.on = words[1] == "on";
        return parse;
    }
    if (verb == "corrupt" || verb == "garbage" || verb == "nak") {
        if (!CheckCount(words, 0, 1, failure))
            return failure;
        if (words.size() == 2 && words[1] != "next")
            return Fail(words[1], "expected next");
        return Ok(verb == "corrupt" ? SimControlVerb::Corrupt : verb == "garbage" ? SimControlVerb::Garbage : SimControlVerb::Nak);
    }
    if (verb == "jam") {
        if (!CheckCount(words, 0, 1, failure))
            return failure;
        SimControlParse parse = Ok(SimControlVerb::Jam);
        parse.command.number = kSimJamAuto;
        if (words.size() == 2) {
            if (words[1] == "acceptor")
                parse.command.number = kSimJamAcceptor;
            else if (words[1] == "stacker")
                parse.command.number = kSimJamStacker;
            else
                return Fail(words[1], "expected acceptor or stacker");
        }
        return parse;
    }
    if (verb == "fail") {
        if (!CheckCount(words, 1, 3, failure))
            return failure;
        SimControlParse parse = Ok(SimControlVerb::Fail);
        if (!ParseHexByte(words[1], parse.command.number) || parse.command.number < wire::kBoxFull || parse.command.number > wire::kFailure)
            return Fail(words[1], "not a failure code (hexadecimal 41 to 47)");
        if (words.size() > 2 && parse.command.number != wire::kFailure)
            return Fail(words[2], "only failure 47 takes detail bytes");
        if (words.size() > 2 && !ParseHexByte(words[2], parse.command.second))
            return Fail(words[2], "not a hexadecimal byte");
        if (words.size() > 3 && !ParseHexByte(words[3], parse.command.third))
            return Fail(words[3], "not a hexadecimal byte");
        return parse;
    }
    return Fail(verb, "unknown command (try help)");
}

const char* SimControlHelp()
{
    return "insert TYPE          a bill of type TYPE (0..23) enters the acceptor\n"
           "insert-barcode TEXT  a barcode coupon (type 23) carrying TEXT\n"
           "auto SECONDS         insert a random enabled bill every SECONDS (0 = off)\n"
           "take                 the customer takes the bills from the dispenser\n"
           "jam [acceptor|stacker]  jam (0x43 or 0x44; by default where the bill is)\n"
           "box-remove           the drop box is pulled out (0x42)\n"
           "box-insert           the drop box is back\n"
           "power-cut            power fails and returns (POWER UP, recovery record)\n"
           "silent on|off        answer nothing at all\n"
           "corrupt next         the next reply carries a wrong check code\n"
           "garbage next         the next reply is noise without a sync byte\n"
           "nak next             the next command is refused with NAK\n"
           "busy SECONDS         POLL answers BUSY (0x1B) for SECONDS\n"
           "fail CODE [Z2 [Z3]]  failure state CODE (hex 41..47) until RESET\n"
           "state                one line: state and where every bill is\n"
           "help                 this list\n"
           "quit                 end the simulator\n";
}

} // namespace orvex
