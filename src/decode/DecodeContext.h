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
// it asks for. Decoders never touch a sink, so they stay pure.
struct DecodeOutput {
    std::vector<std::string> lines;
    std::string statusText;
    bool hasStatusText { false };

    void Add(std::string line) { lines.push_back(std::move(line)); }
    void SetStatus(std::string text)
    {
        statusText = std::move(text);
        hasStatusText = true;
    }
    void Clear()
    {
        lines.clear();
        statusText.clear();
        hasStatusText = false;
    }
};

// A request decoder adds its lines; a reply decoder adds all but its last
// line and returns the last.
using RequestDecoder = void (*)(const DecodeInput& input, DecodeOutput& output);
using ReplyDecoder = std::string (*)(const DecodeInput& input, DecodeOutput& output);

} // namespace orvex
