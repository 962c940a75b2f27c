#include "app/CommandLine.h"

#include <cctype>

namespace orvex {

namespace {

bool IsBlank(char character) { return std::isspace(static_cast<unsigned char>(character)) != 0; }

void AddWord(CommandLine& line, std::string_view word)
{
    if (line.words.size() >= CommandLine::kMaxWords)
        return;
    if (word.size() > CommandLine::kMaxWordLength)
        word = word.substr(0, CommandLine::kMaxWordLength);
    line.words.emplace_back(word);
    if (word == "SET")
        line.setMode = true;
    else if (word == "ED")
        line.escrowOff = true;
}

} // namespace

CommandLine CommandLine::Parse(std::string_view text)
{
    CommandLine line;
    std::size_t position = 0;
    while (position < text.size() && line.words.size() < kMaxWords) {
        while (position < text.size() && IsBlank(text[position]))
            ++position;
        const std::size_t start = position;
        while (position < text.size() && !IsBlank(text[position]))
            ++position;
        if (position > start)
            AddWord(line, text.substr(start, position - start));
    }
    return line;
}

CommandLine CommandLine::Parse(const std::vector<std::string>& arguments)
{
    // Arguments may themselves hold blanks (a quoted word); split them as
    // the one command-line text would be.
    CommandLine line;
    for (const std::string& argument : arguments) {
        const CommandLine part = Parse(std::string_view(argument));
        for (const std::string& word : part.words)
            AddWord(line, word);
        if (line.words.size() >= kMaxWords)
            break;
    }
    return line;
}

} // namespace orvex
