// Writes the Wireshark dissector from its template, with the name tables
// taken from the wire vocabulary, so the dissector names commands and
// states exactly as the exchange log does.
//   orvex-dissector-tables TEMPLATE OUTPUT
#include "link/WireVocabulary.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

constexpr std::string_view kMark = "-- @GENERATED_TABLES@";

std::string LuaString(std::string_view text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string Tables()
{
    using namespace orvex::wire;
    std::ostringstream out;
    out << "local card_reader_address = " << static_cast<int>(kCardReaderAddress) << "\n";
    out << "local command_rows = {\n";
    for (const CommandName& row : CommandNames()) {
        const char* data = row.data == CommandData::None ? "none" : row.data == CommandData::Some ? "some" : "any";
        char line[256];
        std::snprintf(line, sizeof line, "    { code = 0x%02X, address = %d, sub = %d, data = \"%s\", name = %s },\n", row.code,
            row.address, row.subCommand, data, LuaString(row.logName).c_str());
        out << line;
    }
    out << "}\n";
    out << "local poll_states = {\n";
    for (int state = 0; state < 256; ++state) {
        const std::string_view name = PollStateName(static_cast<std::uint8_t>(state));
        if (!name.empty())
            out << "    [" << state << "] = " << LuaString(name) << ",\n";
    }
    out << "}\n";
    return out.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: orvex-dissector-tables TEMPLATE OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::cerr << argv[1] << ": cannot be read\n";
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::string dissector = text.str();
    const std::size_t mark = dissector.find(kMark);
    if (mark == std::string::npos) {
        std::cerr << argv[1] << ": no " << kMark << " line\n";
        return 1;
    }
    dissector.replace(mark, kMark.size(), Tables());
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << dissector;
    if (!out) {
        std::cerr << argv[2] << ": cannot be written\n";
        return 1;
    }
    return 0;
}
