#pragma once

#include "link/Frame.h"
#include "link/WireVocabulary.h"

#include <cstddef>
#include <cstdint>

namespace orvex {

// CRC-16/KERMIT: reflected CCITT polynomial 0x8408, start 0, no final XOR.
std::uint16_t CheckCodeUpdate(std::uint8_t byte, std::uint16_t value);
std::uint16_t CheckCodeOver(const std::uint8_t* bytes, std::size_t count);

// Check code over bytes 0 .. L-3 of a frame whose length comes from its header.
std::uint16_t CheckCodeCompute(const std::uint8_t* frame);

} // namespace orvex
