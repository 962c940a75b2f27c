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

namespace {

// Reads the line as a stream of JSON events and keeps only the texts of
// the top-level "lines" array: the whole line is still checked as JSON,
// without building a tree of it on every run.
class CLinesReader : public nlohmann::json_sax<nlohmann::json> {
public:
    std::vector<std::string> lines;
    bool null() override { return Value(); }
    bool boolean(bool) override { return Value(); }
    bool number_integer(number_integer_t) override { return Value(); }
    bool number_unsigned(number_unsigned_t) override { return Value(); }
    bool number_float(number_float_t, const string_t&) override { return Value(); }
    bool string(string_t& text) override
    {
        if (m_depth == 2 && m_inLines)
            lines.push_back(std::move(text));
        return Value();
    }
    bool binary(binary_t&) override { return Value(); }
    bool start_object(std::size_t) override { return Open(); }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override
    {
        m_inLines = m_depth == 1 && m_key == "lines";
        return Open();
    }
    bool end_array() override { return Close(); }
    bool key(string_t& text) override
    {
        if (m_depth == 1)
            m_key = std::move(text);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool Value() { return true; }
    bool Open()
    {
        ++m_depth;
        return true;
    }
    bool Close()
    {
        if (--m_depth == 1)
            m_inLines = false;
        return true;
    }
    int m_depth { 0 };
    bool m_inLines { false };
    std::string m_key;
};

} // namespace

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
    CLinesReader parsed;
    if (!nlohmann::json::sax_parse(line, &parsed) || parsed.lines.size() != lines.size())
        std::abort();
    for (std::size_t index = 0; index < lines.size(); ++index) {
        // A line of ASCII comes back exactly as it was (control bytes and
        // quotes escaped and unescaped again).
        const std::string& text = lines[index];
        const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii && parsed.lines[index] != text)
            std::abort();
    }
    return 0;
}
