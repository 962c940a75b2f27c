#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvex {

class CExchangeAssembler;

// Feeds every packet and event of a capture file's bytes to the assembler
// (and ends what it holds), naming each interface in `ports` as it first
// appears. False with `error` saying what is wrong and at which byte, after
// feeding what came before.
bool FeedCapture(std::span<const std::uint8_t> bytes, CExchangeAssembler& assembler, std::vector<std::string>& ports,
    std::string& error);

} // namespace orvex
