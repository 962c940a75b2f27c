// orvex-completion: writes the bash completion of orvexctl and orvex-sim
// into the template packaging/orvex.bash.in: the button commands and their
// arguments from the command registry, orvexctl's options and session
// commands from its usage text, orvex-sim's options from its --help text.
// Run at build time, so Tab offers what the programs accept and nothing else.
//
//   orvex-completion TEMPLATE SIM_HELP_FILE OUTPUT

#include "app/CommandRegistry.h"
#include "cli/CliArguments.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Table {
    std::vector<std::string> options;                   // before the command
    std::map<std::string, std::string> values;          // option -> kind of its value
    std::vector<std::string> commands;
    std::map<std::string, std::vector<std::string>> commandOptions;
    std::map<std::string, std::vector<std::string>> arguments; // command -> kind per position
};

std::string Join(const std::vector<std::string>& items, const std::string& separator)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : separator) + item;
    return text;
}

std::string Words(const std::string& alternatives)
{
    std::string words = alternatives;
    for (char& c : words)
        if (c == '|')
            c = ' ';
    return "words " + words;
}

// A small range written as "A..B" in the description, e.g. "bus address 0..4".
std::string RangeWords(const std::string& description)
{
    static const std::regex range(R"((\d+)\.\.(\d+))");
    std::smatch match;
    if (!std::regex_search(description, match, range))
        return "";
    const int first = std::stoi(match[1]), last = std::stoi(match[2]);
    if (last < first || last - first > 16)
        return "";
    std::string words = "words";
    for (int value = first; value <= last; ++value)
        words += " " + std::to_string(value);
    return words;
}

// The kind of an option's value, from its name, its placeholder and its
// description.
std::string ValueKind(const std::string& option, const std::string& placeholder, const std::string& description)
{
    if (option == "--baud")
        return "words 9600 19200"; // the bus's two speeds; the placeholder alone does not say them
    if (option.find("port") != std::string::npos || placeholder == "P" || placeholder == "DEVICE")
        return "port";
    if (placeholder.find("FILE") != std::string::npos || placeholder.find("PATH") != std::string::npos)
        return "file";
    if (placeholder.find('|') != std::string::npos)
        return Words(placeholder);
    const std::string range = RangeWords(description);
    return range.empty() ? "none" : range;
}

// The kind of a session command's positional argument, from its placeholder.
std::string PlaceholderKind(std::string placeholder)
{
    placeholder = std::regex_replace(placeholder, std::regex(R"([\[\]])"), "");
    if (placeholder.find("FILE") != std::string::npos)
        return "file";
    if (placeholder == "WORD...")
        return "words SET ED"; // the words the start-up acts on (app/CommandLine)
    if (placeholder.find('|') != std::string::npos)
        return Words(placeholder);
    if (std::regex_match(placeholder, std::regex("[a-z-]+")))
        return "words " + placeholder; // a literal word, such as set-level's "disable"
    return "none";
}

// Option lines: "  --name VALUE   description" (the value follows after
// one blank; the description after two or more).
void ReadOptionLines(const std::string& text, Table& table)
{
    static const std::regex option(R"((?:^|\s{2,}|, )(--[a-z0-9-]+),?(?: ([^\s-]\S*))?(?:\s{2,}(.*?))?(?=\s{2,}--|, --|$))");
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("  --", 0) != 0)
            continue;
        for (std::sregex_iterator it(line.begin(), line.end(), option), end; it != end; ++it) {
            const std::string name = (*it)[1];
            const std::string placeholder = (*it)[2];
            table.options.push_back(name);
            if (!placeholder.empty())
                table.values[name] = ValueKind(name, placeholder, (*it)[3]);
        }
    }
}

// A button command's argument, as the registry row gives it: the choices
// of a word, the values of a small range, nothing to offer for the rest.
std::string RowArgumentKind(const orvex::CommandArgument& argument)
{
    if (argument.kind == orvex::ArgumentKind::Word) {
        std::vector<std::string> choices;
        for (std::string_view choice : argument.choices)
            if (!choice.empty())
                choices.emplace_back(choice);
        return "words " + Join(choices, " ");
    }
    if (argument.kind == orvex::ArgumentKind::Number && argument.maximum - argument.minimum <= 16)
        return RangeWords(std::to_string(argument.minimum) + ".." + std::to_string(argument.maximum));
    return "none";
}

// orvexctl: its options from the usage text; the button commands from the
// registry's rows; the other commands from the usage after "Session
// commands:", "word ARGS | word ARGS" entries, where "--option VALUE" or
// "[--option VALUE]" after a word is that command's option and an indented
// line starting with "[" continues the entry before it.
Table ReadOrvexctl(const std::string& usage)
{
    Table table;
    const std::size_t buttonsStart = usage.find("Button commands:");
    const std::size_t sessionStart = usage.find("Session commands:");
    if (buttonsStart == std::string::npos || sessionStart == std::string::npos)
        throw std::runtime_error("orvexctl's usage text has no \"Button commands:\" or \"Session commands:\"");
    ReadOptionLines(usage.substr(0, buttonsStart), table);

    for (const orvex::CommandRow& row : orvex::CommandRows()) {
        const std::string word(row.word);
        table.commands.push_back(word);
        for (const orvex::CommandArgument& argument : row.arguments)
            table.arguments[word].push_back(RowArgumentKind(argument));
    }

    std::istringstream lines(usage.substr(sessionStart));
    std::string line;
    std::vector<std::string> entries;
    while (std::getline(lines, line)) {
        if (line.empty() || line.back() == ':')
            continue;
        const std::size_t first = line.find_first_not_of(' ');
        if (line[first] == '[' && !entries.empty()) {
            entries.back() += " " + line.substr(first);
            continue;
        }
        std::size_t start = first;
        while (start != std::string::npos) {
            const std::size_t bar = line.find(" | ", start);
            entries.push_back(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
            start = bar == std::string::npos ? bar : bar + 3;
        }
    }

    for (const std::string& text : entries) {
        std::istringstream tokens(text);
        std::string word, token;
        tokens >> word;
        table.commands.push_back(word);
        std::vector<std::string>& kinds = table.arguments[word];
        std::vector<std::string>& options = table.commandOptions[word];
        std::vector<std::string> rest;
        while (tokens >> token)
            rest.push_back(token);
        for (std::size_t i = 0; i < rest.size(); ++i) {
            const std::string bare = std::regex_replace(rest[i], std::regex(R"([\[\]])"), "");
            if (bare.rfind("--", 0) != 0) {
                kinds.push_back(PlaceholderKind(rest[i]));
                // "WORD...": the last kind repeats.
                if (bare.find("...") != std::string::npos)
                    kinds.push_back("...");
                continue;
            }
            // "--option VALUE" or "[--option VALUE]": the value is the next
            // word, unless the option's bracket closes on it ("[--reset]").
            if (std::find(options.begin(), options.end(), bare) == options.end())
                options.push_back(bare);
            if (rest[i].back() != ']' && i + 1 < rest.size() && rest[i + 1].rfind("--", 0) != 0
                && rest[i + 1].rfind("[", 0) != 0) {
                const std::string value = std::regex_replace(rest[++i], std::regex(R"([\[\]])"), "");
                // An option orvexctl also takes before the command keeps that kind.
                table.values.emplace(bare, ValueKind(bare, value, ""));
            }
        }
    }
    return table;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

std::string BashTables(const std::string& prefix, const Table& table)
{
    std::ostringstream out;
    out << "declare -g " << prefix << "_options=" << Quote(Join(table.options, " ")) << "\n";
    out << "declare -g " << prefix << "_commands=" << Quote(Join(table.commands, " ")) << "\n";
    out << "declare -gA " << prefix << "_values=(";
    for (const auto& [option, kind] : table.values)
        out << "\n    [" << option << "]=" << Quote(kind);
    out << "\n)\ndeclare -gA " << prefix << "_command_options=(";
    for (const auto& [command, options] : table.commandOptions)
        if (!options.empty())
            out << "\n    [" << command << "]=" << Quote(Join(options, " "));
    out << "\n)\ndeclare -gA " << prefix << "_arguments=(";
    for (const auto& [command, kinds] : table.arguments)
        if (!kinds.empty())
            out << "\n    [" << command << "]=" << Quote(Join(kinds, ";"));
    out << "\n)\n";
    return out.str();
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error(path + ": cannot be read");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: orvex-completion TEMPLATE SIM_HELP_FILE OUTPUT\n";
        return 2;
    }
    try {
        std::string script = ReadFile(argv[1]);
        Table sim;
        ReadOptionLines(ReadFile(argv[2]), sim);
        const std::string tables
            = BashTables("_orvexctl", ReadOrvexctl(orvex::UsageText())) + "\n" + BashTables("_orvex_sim", sim);
        const std::size_t at = script.find("@TABLES@");
        if (at == std::string::npos)
            throw std::runtime_error(std::string(argv[1]) + ": no @TABLES@ in the template");
        script.replace(at, 8, tables);
        std::ofstream out(argv[3]);
        out << script;
        if (!out.flush())
            throw std::runtime_error(std::string(argv[3]) + ": cannot be written");
    } catch (const std::exception& error) {
        std::cerr << "orvex-completion: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
