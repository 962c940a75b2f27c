#pragma once

#include "protocol/BillTypeEntry.h"

#include <array>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// Index of the Cyclor unit ("CY") in the window's device address list.
inline constexpr int kDeviceChoiceCyclor = 1;

// What the decoders read from their owner at the moment of decoding.
struct DecodeContext {
    int deviceChoice { 0 }; // index of the device address list (0 to 4)
    std::array<BillTypeEntry, kBillTypes> billTable {};
};

// Supplies the context for one exchange; called on the thread that writes
// the exchange (the window's or the engine's), so it must be safe there.
using DecodeContextSource = std::function<DecodeContext()>;

// What a decoder is given: the record line it works on (the first line for
// a request decoder, the second for a reply decoder), the whole record for
// collecting frames that span several lines, and the context.
struct DecodeInput {
    std::string_view line;
    std::span<const std::string> record;
    const DecodeContext& context;
};

// Lines a decoder adds before the one it returns, and the status box text
// it asks for. Decoders never touch a sink, so they stay pure. Cleared
// between exchanges without giving back the lines' storage, so a log that
// keeps one output allocates nothing for lines it has had before.
class DecodeOutput {
public:
    void Add(std::string_view line)
    {
        if (m_count < m_lines.size())
            m_lines[m_count].assign(line);
        else
            m_lines.emplace_back(line);
        ++m_count;
    }
    std::span<const std::string> Lines() const { return { m_lines.data(), m_count }; }
    std::size_t Count() const { return m_count; }

    void SetStatus(std::string_view text)
    {
        m_statusText.assign(text);
        m_hasStatusText = true;
    }
    bool HasStatusText() const { return m_hasStatusText; }
    const std::string& StatusText() const { return m_statusText; }

    void ClearLines() { m_count = 0; }
    void Clear()
    {
        m_count = 0;
        m_statusText.clear();
        m_hasStatusText = false;
    }

private:
    std::vector<std::string> m_lines;
    std::size_t m_count { 0 };
    std::string m_statusText;
    bool m_hasStatusText { false };
};

// A request decoder adds its lines; a reply decoder adds all but its last
// line and returns the last.
using RequestDecoder = void (*)(const DecodeInput& input, DecodeOutput& output);
using ReplyDecoder = std::string (*)(const DecodeInput& input, DecodeOutput& output);

} // namespace orvex
