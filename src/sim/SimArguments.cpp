#include "sim/SimArguments.h"

#include "link/ShownText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace orvex {

namespace {

std::string Shown(const std::string& text)
{
    return ShownText(text, "");
}

struct Refusal {
    std::string word;
    std::string reason;
};

using Outcome = std::optional<Refusal>;

std::string Bound(double value)
{
    std::string text = std::to_string(value);
    return text.substr(0, text.find('.') + 2);
}

Outcome ParseNumber(const std::string& option, const std::string& value, double low, double high, double& number)
{
    char* end = nullptr;
    errno = 0;
    number = std::strtod(value.c_str(), &end);
    if (value.empty() || end == nullptr || *end != '\0' || errno != 0 || !std::isfinite(number))
        return Refusal { option, "'" + value + "' is not a number" };
    if (number < low || number > high)
        return Refusal { option, "'" + value + "' is outside " + Bound(low) + " .. " + Bound(high) };
    return std::nullopt;
}

Outcome ParseWhole(const std::string& option, const std::string& value, int low, int high, int& number)
{
    if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
        return Refusal { option, "'" + value + "' is not a whole number" };
    number = std::atoi(value.c_str());
    if (number < low || number > high)
        return Refusal { option, "'" + value + "' is outside " + std::to_string(low) + " .. " + std::to_string(high) };
    return std::nullopt;
}

Outcome ParseCassette(const std::string& value, SimOptions& options)
{
    const Refusal shape { "--cassette", "'" + value + "': expected N:TYPE:COUNT[:CAPACITY]" };
    std::string parts[4];
    int count = 0;
    std::size_t start = 0;
    while (count < 4) {
        std::size_t colon = value.find(':', start);
        parts[count++] = value.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (colon == std::string::npos)
            break;
        start = colon + 1;
        if (count == 4)
            return shape;
    }
    if (count < 3)
        return shape;
    int number = 0;
    if (Outcome refused = ParseWhole("--cassette", parts[0], 1, 3, number))
        return refused;
    SimCassetteSetup& cassette = options.cassettes[static_cast<std::size_t>(number - 1)];
    if (Outcome refused = ParseWhole("--cassette", parts[1], 0, 31, cassette.type))
        return refused;
    if (cassette.type > 24 && cassette.type != 31)
        return Refusal { "--cassette", "'" + parts[1] + "': a cassette type is 0..23, 24 (escrow) or 31 (none)" };
    if (count == 4) {
        if (Outcome refused = ParseWhole("--cassette", parts[3], 1, kSimMaxCapacity, cassette.capacity))
            return refused;
    }
    return ParseWhole("--cassette", parts[2], 0, cassette.capacity, cassette.count);
}

// One option and its value; `index` moves past a value taken from the
// next word.
Outcome ParseWord(const std::vector<std::string>& words, std::size_t& index, SimArguments& arguments, bool& portGiven,
    bool& ptyGiven, bool& baudGiven)
{
    std::string word = words[index];
    std::string inlineText;
    bool inlineValue = false;
    std::size_t equals = word.find('=');
    if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
        inlineText = word.substr(equals + 1);
        word = word.substr(0, equals);
        inlineValue = true;
    }
    std::string value;
    auto takeValue = [&]() -> Outcome {
        if (inlineValue) {
            value = inlineText;
            return std::nullopt;
        }
        if (index + 1 >= words.size())
            return Refusal { word, "missing value" };
        value = words[++index];
        return std::nullopt;
    };
    auto noValue = [&]() -> Outcome {
        if (inlineValue)
            return Refusal { word, "takes no value" };
        return std::nullopt;
    };
    auto emptyPath = [&]() -> Outcome {
        if (value.empty())
            return Refusal { word, "empty path" };
        return std::nullopt;
    };
    auto number = [&](double low, double high, double& target) -> Outcome {
        if (Outcome refused = takeValue())
            return refused;
        return ParseNumber(word, value, low, high, target);
    };
    SimOptions& options = arguments.options;

    if (word == "--help" || word == "-h") {
        arguments.action = SimRunAction::Help;
        return std::nullopt;
    }
    if (word == "--version") {
        arguments.action = SimRunAction::Version;
        return std::nullopt;
    }
    if (word == "--pty") {
        ptyGiven = true;
        return noValue();
    }
    if (word == "--card-reader") {
        options.cardReader = true;
        return noValue();
    }
    if (word == "--pace")
        return number(0.0001, 100, options.pace);
    if (word == "--clock-offset")
        return number(-8760, 8760, options.clockOffsetHours);
    if (word == "--escrow-timeout")
        return number(0, 3600, options.escrowTimeoutSeconds);
    if (word == "--take-timeout")
        return number(0, 3600, options.takeTimeoutSeconds);
    bool takesValue = word == "--link" || word == "--port" || word == "--baud" || word == "--control" || word == "--device"
        || word == "--bills" || word == "--cassette" || word == "--seed" || word == "--capture" || word == "--replay";
    if (!takesValue)
        return Refusal { word, word.rfind("-", 0) == 0 ? "unknown option" : "unexpected word" };
    if (Outcome refused = takeValue())
        return refused;
    if (word == "--link") {
        arguments.linkPath = value;
        return emptyPath();
    }
    if (word == "--port") {
        arguments.portPath = value;
        portGiven = true;
        return emptyPath();
    }
    if (word == "--control") {
        arguments.controlPath = value;
        return emptyPath();
    }
    if (word == "--capture") {
        arguments.capturePath = value;
        return emptyPath();
    }
    if (word == "--replay") {
        arguments.replayPath = value;
        return emptyPath();
    }
    if (word == "--baud") {
        if (value != "9600" && value != "19200")
            return Refusal { word, "'" + value + "': the bus runs at 9600 or 19200" };
        arguments.baud = std::atoi(value.c_str());
        baudGiven = true;
        return std::nullopt;
    }
    if (word == "--device") {
        if (value == "cy")
            options.device = SimDeviceKind::Cyclor;
        else if (value == "bv")
            options.device = SimDeviceKind::Validator;
        else
            return Refusal { word, "'" + value + "': expected cy or bv" };
        return std::nullopt;
    }
    if (word == "--bills") {
        options.bills = value;
        std::string error;
        ParseBillTable(options.bills, error);
        if (!error.empty())
            return Refusal { word, error };
        return std::nullopt;
    }
    if (word == "--cassette")
        return ParseCassette(value, options);
    int seed = 0;
    if (Outcome refused = ParseWhole(word, value, 0, 999999999, seed))
        return refused;
    options.seed = static_cast<unsigned>(seed);
    return std::nullopt;
}

} // namespace

std::string SimArgumentsResult::Message() const
{
    // The reasons quote the value between single quotes; each quoted piece
    // is shown as the word is.
    std::string text;
    std::size_t at = 0;
    while (at < reason.size()) {
        std::size_t open = reason.find('\'', at);
        std::size_t close = open == std::string::npos ? std::string::npos : reason.find('\'', open + 1);
        if (close == std::string::npos) {
            text += reason.substr(at);
            break;
        }
        text += reason.substr(at, open - at) + "'" + Shown(reason.substr(open + 1, close - open - 1)) + "'";
        at = close + 1;
    }
    return "orvex-sim: " + Shown(word) + ": " + text + " (see --help)";
}

SimArgumentsResult ParseSimArguments(const std::vector<std::string>& words)
{
    SimArgumentsResult result;
    SimArguments& arguments = result.arguments;
    bool portGiven = false;
    bool ptyGiven = false;
    bool baudGiven = false;
    auto refuse = [&result](Refusal refusal) {
        result.valid = false;
        result.word = std::move(refusal.word);
        result.reason = std::move(refusal.reason);
        return result;
    };
    for (std::size_t index = 0; index < words.size(); ++index) {
        if (Outcome refused = ParseWord(words, index, arguments, portGiven, ptyGiven, baudGiven))
            return refuse(*refused);
        // --help and --version answer at once, whatever follows.
        if (arguments.action != SimRunAction::Serve)
            return result;
    }
    if (portGiven && (ptyGiven || !arguments.linkPath.empty()))
        return refuse({ ptyGiven ? "--pty" : "--link", "cannot be used with --port" });
    if (baudGiven && !portGiven)
        return refuse({ "--baud", "only applies to --port" });
    return result;
}

} // namespace orvex
