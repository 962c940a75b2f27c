#include "cli/CliArguments.h"

#include "app/CommandRegistry.h"
#include "link/NetworkPortName.h"
#include "link/ShownText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace orvex {

namespace {

constexpr int kMaxMilliseconds = TimingSettings::kMaxMilliseconds;

std::string Quote(std::string_view word)
{
    return ShownText(word);
}

std::optional<long long> ParseInteger(std::string_view text, long long minimum, long long maximum)
{
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    long long value = 0;
    const char* begin = text.data();
    if (*begin == '+')
        ++begin;
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

bool IsHex(std::string_view text, std::size_t maximumDigits)
{
    return !text.empty() && text.size() <= maximumDigits
        && std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

std::string Upper(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

// Small helpers that fill `error` naming the word.
class CArgumentReader {
public:
    explicit CArgumentReader(std::string& error)
        : m_error(error)
    {
    }

    bool Integer(std::string_view word, long long minimum, long long maximum, long long& value, std::string_view what)
    {
        const auto parsed = ParseInteger(word, minimum, maximum);
        if (!parsed) {
            m_error = Quote(word) + ": " + std::string(what) + " must be a whole number from " + std::to_string(minimum)
                + " to " + std::to_string(maximum);
            return false;
        }
        value = *parsed;
        return true;
    }

    bool Hex(std::string_view word, std::size_t digits, std::string& value, std::string_view what)
    {
        if (!IsHex(word, digits)) {
            m_error = Quote(word) + ": " + std::string(what) + " must be 1 to " + std::to_string(digits)
                + " hexadecimal digits";
            return false;
        }
        value = Upper(word);
        return true;
    }

private:
    std::string& m_error;
};

// The arguments of a button command, read as its row in the registry
// says, each onto the member it fills.
bool ParseButtonArguments(const CommandRow& row, const std::vector<std::string>& words, PanelMembers& members,
    std::string& error)
{
    CArgumentReader reader(error);
    for (std::size_t index = 0; index < words.size(); ++index) {
        const CommandArgument& argument = row.arguments[index];
        const std::string& word = words[index];
        long long number = 0;
        std::string text;
        switch (argument.kind) {
        case ArgumentKind::Hex:
            if (!reader.Hex(word, static_cast<std::size_t>(argument.maximum), text, argument.what))
                return false;
            break;
        case ArgumentKind::Number:
            if (!reader.Integer(word, argument.minimum, argument.maximum, number, argument.what))
                return false;
            break;
        case ArgumentKind::Word: {
            const auto found = std::find(argument.choices.begin(), argument.choices.end(), word);
            if (word.empty() || found == argument.choices.end()) {
                error = Quote(word) + ": " + std::string(argument.what);
                return false;
            }
            number = found - argument.choices.begin();
            break;
        }
        }
        argument.store(members, number, text);
    }
    return true;
}

bool ParsePollingArguments(const std::vector<std::string>& words, CliOptions& options, std::string& error)
{
    CArgumentReader reader(error);
    PanelMembers& members = options.button.members;
    for (std::size_t index = 0; index < words.size(); ++index) {
        const std::string& word = words[index];
        auto next = [&](std::string& value) {
            if (index + 1 >= words.size()) {
                error = Quote(word) + ": needs a value";
                return false;
            }
            value = words[++index];
            return true;
        };
        std::string value;
        long long number = 0;
        if (word == "--reset") {
            members.reset = 1;
        } else if (word == "--reset-on-error") {
            members.resetOnError = 1;
        } else if (word == "--return") {
            members.returnBills = 1;
        } else if (word == "--seconds") {
            if (!next(value))
                return false;
            double seconds = -1.0;
            const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (value.empty() || failure != std::errc() || end != value.data() + value.size() || !(seconds >= 0.0)
                || seconds > 1e7) {
                error = Quote(value) + ": --seconds must be a number of seconds, 0 or more";
                return false;
            }
            options.seconds = seconds;
        } else if (word == "--enabled") {
            if (!next(value) || !reader.Hex(value, 6, members.enabledBills, "--enabled"))
                return false;
        } else if (word == "--escrow") {
            if (!next(value) || !reader.Hex(value, 6, members.escrowMask, "--escrow"))
                return false;
        } else if (word == "--security") {
            if (!next(value) || !reader.Hex(value, 6, members.security, "--security"))
                return false;
        } else if (word == "--options") {
            if (!next(value) || !reader.Hex(value, 8, members.options, "--options"))
                return false;
        } else if (word == "--barcode-length") {
            if (!next(value) || !reader.Integer(value, 6, 18, number, "--barcode-length"))
                return false;
            members.barcodeLength = static_cast<std::uint8_t>(number);
        } else {
            error = Quote(word) + ": not an option of polling";
            return false;
        }
    }
    return true;
}

} // namespace

bool IsButtonCommand(std::string_view name) { return FindCommandWord(name) != nullptr; }

bool ParseButtonCommand(const std::vector<std::string>& words, PanelMembers& members, std::string& error)
{
    if (words.empty()) {
        error = "no command given";
        return false;
    }
    const CommandRow* row = FindCommandWord(words[0]);
    if (row == nullptr) {
        error = Quote(words[0]) + ": not a command";
        return false;
    }
    const std::vector<std::string> arguments(words.begin() + 1, words.end());
    const std::size_t minimum = RequiredArguments(*row);
    const std::size_t maximum = row->arguments.size();
    if (arguments.size() < minimum || arguments.size() > maximum) {
        error = Quote(words[0]) + ": takes ";
        if (minimum == maximum)
            error += std::to_string(minimum);
        else
            error += std::to_string(minimum) + " to " + std::to_string(maximum);
        error += " arguments, not " + std::to_string(arguments.size());
        return false;
    }
    return ParseButtonArguments(*row, arguments, members, error);
}

PanelMembers BaseMembers(const CliOptions& options)
{
    PanelMembers members;
    members.deviceAddress = options.address;
    members.communicationData = options.raw ? 1 : 0;
    members.displayExchange = options.decode ? 1 : 0;
    if (options.rts != RtsChoice::Untouched)
        members.rts = options.rts == RtsChoice::Raised ? 1 : 0;
    return members;
}

CliParseResult ParseArguments(const std::vector<std::string>& arguments)
{
    CliParseResult result;
    CliOptions& options = result.options;
    std::string& error = result.error;
    CArgumentReader reader(error);
    std::size_t index = 0;
    for (; index < arguments.size(); ++index) {
        const std::string& word = arguments[index];
        if (word.rfind("--", 0) != 0 && word != "-h")
            break;
        if (word == "--help" || word == "-h") {
            options.help = true;
            result.ok = true;
            return result;
        }
        if (word == "--version") {
            options.version = true;
            result.ok = true;
            return result;
        }
        if (word == "--raw") {
            options.raw = true;
            continue;
        }
        if (word == "--no-decode") {
            options.decode = false;
            continue;
        }
        const bool takesValue = word == "--port" || word == "--baud" || word == "--address" || word == "--timeout"
            || word == "--intercommand" || word == "--poll-interval" || word == "--rts";
        if (!takesValue) {
            error = Quote(word) + ": not an option";
            return result;
        }
        if (index + 1 >= arguments.size()) {
            error = Quote(word) + ": needs a value";
            return result;
        }
        const std::string& value = arguments[++index];
        long long number = 0;
        if (word == "--port") {
            options.port = value;
            if (value.size() > 3 && value.compare(0, 3, "COM") == 0) {
                const auto slot = ParseInteger(std::string_view(value).substr(3), 1, 16);
                if (!slot) {
                    error = Quote(value) + ": --port must be COM1 to COM16 or a device path";
                    return result;
                }
                options.portIndex = static_cast<int>(*slot - 1);
                options.portPath.clear();
            } else if (!value.empty() && value[0] == '/' && value.find('\0') == std::string::npos) {
                options.portIndex = 0;
                options.portPath = value;
            } else if (IsNetworkPortName(value)) {
                std::string why;
                if (!ParseNetworkPortName(value, &why)) {
                    error = Quote(value) + ": " + why;
                    return result;
                }
                options.portIndex = 0;
                options.portPath = value;
            } else {
                error = Quote(value) + ": --port must be COM1 to COM16 or a device path";
                return result;
            }
        } else if (word == "--baud") {
            if (value != "9600" && value != "19200") {
                error = Quote(value) + ": --baud must be 9600 or 19200";
                return result;
            }
            options.baud = value == "9600" ? 9600 : 19200;
        } else if (word == "--rts") {
            if (value != "on" && value != "off") {
                error = Quote(value) + ": --rts must be on or off";
                return result;
            }
            options.rts = value == "on" ? RtsChoice::Raised : RtsChoice::Dropped;
        } else if (word == "--address") {
            if (!reader.Integer(value, 0, 4, number, "--address"))
                return result;
            options.address = static_cast<int>(number);
        } else if (word == "--timeout") {
            if (!reader.Integer(value, 0, kMaxMilliseconds, number, "--timeout"))
                return result;
            options.timeout = static_cast<int>(number);
        } else if (word == "--intercommand") {
            if (!reader.Integer(value, 0, kMaxMilliseconds, number, "--intercommand"))
                return result;
            options.intercommand = static_cast<int>(number);
        } else {
            if (!reader.Integer(value, 0, kMaxMilliseconds, number, "--poll-interval"))
                return result;
            options.pollInterval = static_cast<int>(number);
        }
    }
    if (index >= arguments.size()) {
        error = "no command given (try --help)";
        return result;
    }
    options.command = arguments[index];
    const std::vector<std::string> rest(arguments.begin() + static_cast<std::ptrdiff_t>(index) + 1, arguments.end());
    options.button.members = BaseMembers(options);
    if (options.command == "ports") {
        if (!rest.empty()) {
            error = Quote(rest[0]) + ": ports takes no arguments";
            return result;
        }
    } else if (options.command == "search") {
        options.searchWords = rest;
    } else if (options.command == "polling") {
        options.button.name = "polling";
        if (!ParsePollingArguments(rest, options, error))
            return result;
    } else if (options.command == "script") {
        if (rest.size() != 1) {
            error = "\"script\": takes one FILE, or - for standard input";
            return result;
        }
        options.scriptPath = rest[0];
    } else {
        std::vector<std::string> words { options.command };
        words.insert(words.end(), rest.begin(), rest.end());
        const CommandRow* row = FindCommandWord(options.command);
        options.button.name = row != nullptr ? std::string(row->word) : "";
        if (row != nullptr)
            options.button.id = row->id;
        if (!ParseButtonCommand(words, options.button.members, error))
            return result;
    }
    result.ok = true;
    return result;
}

bool ParseScript(std::string_view text, const PanelMembers& base, std::vector<CliCommand>& commands, std::string& error)
{
    commands.clear();
    int lineNumber = 0;
    std::size_t position = 0;
    while (position <= text.size()) {
        std::size_t end = text.find('\n', position);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(position, end - position);
        position = end + 1;
        ++lineNumber;
        std::vector<std::string> words;
        std::size_t at = 0;
        while (at < line.size()) {
            while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at])))
                ++at;
            const std::size_t start = at;
            while (at < line.size() && !std::isspace(static_cast<unsigned char>(line[at])))
                ++at;
            if (at > start)
                words.emplace_back(line.substr(start, at - start));
        }
        if (end == text.size() && words.empty())
            break;
        if (words.empty() || words[0][0] == '#')
            continue;
        CliCommand command { words[0], base, std::nullopt };
        std::string lineError;
        if (!ParseButtonCommand(words, command.members, lineError)) {
            error = "line " + std::to_string(lineNumber) + ": " + lineError;
            return false;
        }
        command.id = FindCommandWord(words[0])->id;
        commands.push_back(std::move(command));
    }
    return true;
}

std::string UsageText()
{
    std::string text = R"(usage: orvexctl [OPTIONS] COMMAND [ARGUMENTS]

Options (before COMMAND):
  --port P            COMn (n = 1..16), a device path, tcp://HOST:PORT or
                      rfc2217://HOST:PORT; default COM1
  --baud B            9600 (default) or 19200
  --address A         bus address 0..4; default 3
  --timeout MS        response timeout; default 200
  --intercommand MS   intercommand interval; default 20
  --poll-interval MS  poll interval; default 150 (polling adds 100)
  --raw               show the raw frames of every exchange
  --no-decode         do not decode the exchanges
  --rts on|off        raise or drop RTS once the port is open (the "RTS" box)
  --capture FILE      keep every frame in a pcapng capture (Wireshark opens it)
  --json              one JSON object per exchange on standard output
  --timestamps        microsecond wall-clock time on every header
  --help, --version   this text, or the program's version

Button commands:)";
    int line = 0;
    for (const CommandRow& row : CommandRows()) {
        text += row.usageLine != line ? "\n  " : " | ";
        line = row.usageLine;
        text += CommandSynopsis(row);
    }
    return text + R"(

Session commands:
  ports | search [WORD...] | script FILE|-
  polling [--seconds S] [--enabled HEX] [--escrow HEX] [--security HEX] [--options HEX]
          [--barcode-length N] [--reset] [--reset-on-error] [--return]

Watching the wire (docs/monitor.md):
  monitor --port A [--port B] [--seconds S] [--gap MS]
  relay --controller-port A --device-port B [--seconds S] [--gap MS]
  decode FILE [--address N] [--name LOGNAME]
)";
}

} // namespace orvex
