// The JSON writer on device texts of any bytes: every exchange is one line
// that parses back, with lines of ASCII kept as they were.
#include "capture/JsonLines.h"
#include "support/CFuzzInput.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using namespace orvex;
using orvex::fuzz::CFuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CFuzzInput input(data, size);
    WireExchange exchange;
    exchange.kind = input.Byte() & 1 ? WireExchangeKind::Stray : WireExchangeKind::Exchange;
    exchange.address = input.Byte();
    exchange.result = -static_cast<int>(input.Byte() % 9);
    exchange.name = input.Text();
    WireFrame frame;
    frame.timeNs = static_cast<std::int64_t>(input.Long()) * 1000;
    frame.bytes = input.Bytes(input.Byte());
    exchange.frames.push_back(frame);
    const std::string port = input.Text();
    std::vector<std::string> lines;
    while (!input.Empty() && lines.size() < 16)
        lines.push_back(input.Text());
    const std::string line = JsonExchangeLine(exchange, port, lines);
    if (line.find('\n') != std::string::npos)
        std::abort();
    const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_discarded() || parsed["lines"].size() != lines.size())
        std::abort();
    for (std::size_t index = 0; index < lines.size(); ++index) {
        // A line of ASCII comes back exactly as it was (control bytes and
        // quotes escaped and unescaped again).
        const std::string& text = lines[index];
        const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii && parsed["lines"][index].get<std::string>() != text)
            std::abort();
    }
    return 0;
}
