#pragma once

#include <cstddef>
#include <cstdint>

namespace orvex {

// CRC-16/KERMIT: reflected CCITT polynomial 0x8408, start 0, no final XOR.
std::uint16_t CheckCodeUpdate(std::uint8_t byte, std::uint16_t value);
std::uint16_t CheckCodeOver(const std::uint8_t* bytes, std::size_t count);

// Total frame length from the header: a non-zero length byte is the length,
// a zero one means the 16-bit length stands in bytes 3 and 4 (high first).
// The header must hold at least 3 bytes, and 5 for a long frame.
int FrameLength(const std::uint8_t* header);

// Check code over bytes 0 .. L-3 of a frame whose length comes from its header.
std::uint16_t CheckCodeCompute(const std::uint8_t* frame);

// Writes the address and the check code into a frame of `length` bytes.
void FinishFrame(std::uint8_t* frame, int length, std::uint8_t address);

// The host's six-byte acknowledgement frames.
inline constexpr std::uint8_t kAckCode = 0x00;
inline constexpr std::uint8_t kNakCode = 0xFF;
inline constexpr std::uint8_t kInvalidCommandCode = 0x30;
inline constexpr std::uint8_t kSync = 0x02;

} // namespace orvex
