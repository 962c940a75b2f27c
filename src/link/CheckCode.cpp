#include "link/CheckCode.h"

namespace orvex {

std::uint16_t CheckCodeUpdate(std::uint8_t byte, std::uint16_t value)
{
    value ^= byte;
    for (int bit = 0; bit < 8; ++bit)
        value = (value & 1) ? static_cast<std::uint16_t>((value >> 1) ^ 0x8408) : static_cast<std::uint16_t>(value >> 1);
    return value;
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
