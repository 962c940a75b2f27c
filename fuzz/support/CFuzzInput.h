#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::fuzz {

// Reads a fuzz input front to back, so that seeds can be written by hand:
// every field is the next byte or bytes. Past the end every read gives
// zeros and empty runs.
class CFuzzInput {
public:
    CFuzzInput(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    bool Empty() const { return m_position >= m_size; }
    std::size_t Remaining() const { return Empty() ? 0 : m_size - m_position; }

    std::uint8_t Byte()
    {
        return Empty() ? 0 : m_data[m_position++];
    }
    // High byte first.
    std::uint16_t Word()
    {
        std::uint16_t high = Byte();
        return static_cast<std::uint16_t>(high << 8 | Byte());
    }
    std::uint32_t Long()
    {
        std::uint32_t high = Word();
        return high << 16 | Word();
    }
    // A number in 0 .. limit from one byte (two when the limit needs it).
    std::size_t Below(std::size_t limit)
    {
        std::size_t value = limit < 256 ? Byte() : Word();
        return limit == 0 ? 0 : value % (limit + 1);
    }
    // The next `count` bytes (fewer at the end) where they lie, not copied.
    std::span<const std::uint8_t> Span(std::size_t count)
    {
        if (count > Remaining())
            count = Remaining();
        const std::span<const std::uint8_t> bytes(m_data + m_position, count);
        m_position += count;
        return bytes;
    }
    std::vector<std::uint8_t> Bytes(std::size_t count)
    {
        if (count > Remaining())
            count = Remaining();
        std::vector<std::uint8_t> bytes(m_data + m_position, m_data + m_position + count);
        m_position += count;
        return bytes;
    }
    // A run of text up to the next NUL byte (not included), or to the end.
    std::string Text()
    {
        std::string text;
        while (!Empty()) {
            char c = static_cast<char>(Byte());
            if (c == '\0')
                break;
            text.push_back(c);
        }
        return text;
    }
    std::string_view Rest()
    {
        std::string_view rest(reinterpret_cast<const char*>(m_data) + m_position, Remaining());
        m_position = m_size;
        return rest;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position { 0 };
};

} // namespace orvex::fuzz
