#include "link/CCommand.h"

#include "link/CheckCode.h"

#include <cstring>
#include <new>

namespace orvex {

CCommand::CCommand(const std::uint8_t* frame, int status, int length)
{
    Take(frame, status, length);
}

CCommand::CCommand(const CCommand& other)
{
    if (other.m_status == 0 && other.m_bytes)
        Take(other.m_bytes.get(), 0, other.m_length);
    else
        m_status = other.m_status;
}

CCommand& CCommand::operator=(const CCommand& other)
{
    if (this == &other)
        return *this;
    m_bytes.reset();
    m_length = 0;
    if (other.m_status == 0 && other.m_bytes)
        Take(other.m_bytes.get(), 0, other.m_length);
    else
        m_status = other.m_status;
    return *this;
}

CCommand::CCommand(CCommand&& other) noexcept
    : m_status(other.m_status)
    , m_bytes(std::move(other.m_bytes))
    , m_length(other.m_length)
{
    other.m_length = 0;
}

CCommand& CCommand::operator=(CCommand&& other) noexcept
{
    m_status = other.m_status;
    m_bytes = std::move(other.m_bytes);
    m_length = other.m_length;
    other.m_length = 0;
    return *this;
}

CCommand::~CCommand() = default;

void CCommand::Assign(const std::uint8_t* frame, int status)
{
    m_bytes.reset();
    m_length = 0;
    Take(frame, status, 0);
}

void CCommand::Take(const std::uint8_t* frame, int status, int length)
{
    m_status = status;
    m_bytes.reset();
    m_length = 0;
    if (status != 0 || frame == nullptr)
        return;
    // A copy keeps exactly the bytes it was given; only a bare pointer
    // needs its length from the header.
    int size = length > 0 ? length : FrameLength(frame);
    if (size <= 0)
        return;
    m_bytes.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(size)]);
    if (!m_bytes)
        return;
    std::memcpy(m_bytes.get(), frame, static_cast<std::size_t>(size));
    m_length = size;
}

void CCommand::SetByte(std::uint8_t value, int position)
{
    if (m_bytes && position >= 0 && position < m_length)
        m_bytes[static_cast<std::size_t>(position)] = value;
}

std::string CCommand::HexText() const
{
    return orvex::HexText(m_bytes.get(), m_bytes ? m_length : 0);
}

std::string HexText(const std::uint8_t* bytes, int count)
{
    std::string text;
    AppendHexText(text, bytes, count);
    return text;
}

void AppendHexText(std::string& text, const std::uint8_t* bytes, int count)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    if (count <= 0 || bytes == nullptr)
        return;
    const std::size_t start = text.size();
    text.resize(start + static_cast<std::size_t>(count) * 3);
    char* at = text.data() + start;
    for (int i = 0; i < count; ++i, at += 3) {
        at[0] = digits[bytes[i] >> 4];
        at[1] = digits[bytes[i] & 0xF];
        at[2] = ' ';
    }
}

} // namespace orvex
