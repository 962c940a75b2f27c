#include "link/CheckCode.h"

#include <array>

namespace orvex {

namespace {

// One step of eight bits, worked out once for every byte value: the code
// runs over every frame on both ends and over the longest records, and a
// bit loop costs eight branches a byte.
constexpr std::array<std::uint16_t, 256> MakeTable()
{
    std::array<std::uint16_t, 256> table {};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned value = byte;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? (value >> 1) ^ 0x8408 : value >> 1;
        table[byte] = static_cast<std::uint16_t>(value);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kTable = MakeTable();

} // namespace

std::uint16_t CheckCodeUpdate(std::uint8_t byte, std::uint16_t value)
{
    return static_cast<std::uint16_t>((value >> 8) ^ kTable[(value ^ byte) & 0xFF]);
}

std::uint16_t CheckCodeOver(const std::uint8_t* bytes, std::size_t count)
{
    std::uint16_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = CheckCodeUpdate(bytes[i], value);
    return value;
}

std::uint16_t CheckCodeCompute(const std::uint8_t* frame)
{
    int length = FrameLength(frame);
    if (length < 2)
        return 0;
    return CheckCodeOver(frame, static_cast<std::size_t>(length - 2));
}

} // namespace orvex
