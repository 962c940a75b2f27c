#include "cli/WireOptions.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace orvex {

namespace {

constexpr std::string_view kValueOptions[] = { "--port", "--baud", "--address", "--timeout", "--intercommand",
    "--poll-interval", "--rts", "--capture" };

bool TakesValue(std::string_view word)
{
    return std::find(std::begin(kValueOptions), std::end(kValueOptions), word) != std::end(kValueOptions);
}

// The index of the command word: the first word that is not an option or
// an option's value.
std::size_t CommandIndex(const std::vector<std::string>& arguments)
{
    std::size_t index = 0;
    while (index < arguments.size() && arguments[index].rfind("--", 0) == 0)
        index += TakesValue(arguments[index]) ? 2 : 1;
    return index;
}

bool Number(const std::string& text, double minimum, double maximum, double& value)
{
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && failure == std::errc() && end == text.data() + text.size() && value >= minimum && value <= maximum;
}

std::string Quote(const std::string& word) { return "\"" + word + "\""; }

} // namespace

bool ExtractWireOptions(std::vector<std::string>& arguments, WireOptions& options, std::string& error)
{
    const std::size_t end = CommandIndex(arguments);
    std::vector<std::string> rest;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& word = arguments[index];
        if (index >= end) {
            rest.push_back(word);
        } else if (word == "--json") {
            options.json = true;
        } else if (word == "--timestamps") {
            options.timestamps = true;
        } else if (word == "--capture") {
            if (index + 1 >= arguments.size() || arguments[index + 1].empty()) {
                error = "\"--capture\": needs a FILE";
                return false;
            }
            options.capturePath = arguments[++index];
        } else {
            rest.push_back(word);
            if (TakesValue(word) && index + 1 < arguments.size())
                rest.push_back(arguments[++index]);
        }
    }
    arguments.swap(rest);
    return true;
}

bool IsWireCommand(const std::vector<std::string>& arguments)
{
    const std::size_t index = CommandIndex(arguments);
    if (index >= arguments.size())
        return false;
    const std::string& word = arguments[index];
    return word == "monitor" || word == "relay" || word == "decode";
}

bool ParseWireCommand(const std::vector<std::string>& arguments, WireCommand& command, std::string& error)
{
    command = WireCommand {};
    std::string controllerPort;
    std::string devicePort;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& word = arguments[index];
        auto value = [&](std::string& text) {
            if (index + 1 >= arguments.size()) {
                error = Quote(word) + ": needs a value";
                return false;
            }
            text = arguments[++index];
            return true;
        };
        std::string text;
        double number = 0;
        if (word.rfind("--", 0) != 0) {
            if (command.command.empty()) {
                command.command = word;
            } else if (command.command == "decode" && command.file.empty()) {
                command.file = word;
            } else {
                error = Quote(word) + ": " + command.command + " takes no such argument";
                return false;
            }
        } else if (word == "--json") {
            command.wire.json = true;
        } else if (word == "--timestamps") {
            command.wire.timestamps = true;
        } else if (word == "--raw") {
            command.raw = true;
        } else if (word == "--no-decode") {
            command.decode = false;
        } else if (word == "--capture") {
            if (!value(command.wire.capturePath))
                return false;
        } else if (word == "--port") {
            if (!value(text))
                return false;
            command.ports.push_back(text);
        } else if (word == "--controller-port") {
            if (!value(controllerPort))
                return false;
        } else if (word == "--device-port") {
            if (!value(devicePort))
                return false;
        } else if (word == "--baud") {
            if (!value(text))
                return false;
            if (text != "9600" && text != "19200") {
                error = Quote(text) + ": --baud must be 9600 or 19200";
                return false;
            }
            command.baud = text == "9600" ? 9600 : 19200;
        } else if (word == "--seconds") {
            if (!value(text))
                return false;
            if (!Number(text, 0, 1e7, command.seconds)) {
                error = Quote(text) + ": --seconds must be a number of seconds, 0 or more";
                return false;
            }
        } else if (word == "--gap") {
            if (!value(text))
                return false;
            if (!Number(text, 1, 60000, number)) {
                error = Quote(text) + ": --gap must be 1 to 60000 ms";
                return false;
            }
            command.gapMilliseconds = static_cast<int>(number);
        } else if (word == "--address") {
            if (!value(text))
                return false;
            if (!Number(text, 0, 255, number) || number != static_cast<int>(number)) {
                error = Quote(text) + ": --address must be a whole number from 0 to 255";
                return false;
            }
            command.address = static_cast<int>(number);
        } else if (word == "--name") {
            if (!value(text))
                return false;
            command.names.push_back(text);
        } else {
            error = Quote(word) + ": not an option of " + (command.command.empty() ? std::string("orvexctl") : command.command);
            return false;
        }
    }
    if (command.command == "monitor") {
        if (command.ports.empty() || command.ports.size() > 2) {
            error = "monitor: takes --port A, and --port B for a tap cable";
            return false;
        }
    } else if (command.command == "relay") {
        if (controllerPort.empty() || devicePort.empty()) {
            error = "relay: takes --controller-port A and --device-port B";
            return false;
        }
        command.ports = { controllerPort, devicePort };
    } else if (command.command == "decode") {
        if (command.file.empty()) {
            error = "decode: takes a capture FILE";
            return false;
        }
    }
    if (command.command != "decode" && (command.address >= 0 || !command.names.empty())) {
        error = command.command + ": --address and --name filter decode only";
        return false;
    }
    if ((command.command == "monitor" || command.command == "decode") && (!controllerPort.empty() || !devicePort.empty())) {
        error = command.command + ": --controller-port and --device-port belong to relay";
        return false;
    }
    return true;
}

} // namespace orvex
