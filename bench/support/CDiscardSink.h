#pragma once

#include "decode/CLogSink.h"

#include <atomic>
#include <cstdint>
#include <string_view>

namespace orvex {

// A log sink that drops every line, keeping only a count of the
// characters, so that the exchange log does all its work while nothing
// piles up in memory.
class CDiscardSink final : public CLogSink {
public:
    void AddLine(std::string_view line) override { m_characters.fetch_add(line.size(), std::memory_order_relaxed); }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }
    std::uint64_t Characters() const { return m_characters.load(); }

private:
    std::atomic<std::uint64_t> m_characters { 0 };
};

} // namespace orvex
