#include "support/CFuzzPort.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvex::fuzz {

CFuzzPort::CFuzzPort()
    : CCOMPort(CPortTable())
{
}

int CFuzzPort::Open(int, const char*, int)
{
    return 1;
}

void CFuzzPort::ClearReplies()
{
    m_replies.clear();
    m_current.clear();
    m_burst = 0;
    m_offset = 0;
    m_writeFails = false;
    m_written.clear();
}

int CFuzzPort::Read(std::uint8_t* buffer, int count)
{
    int received = 0;
    while (received < count) {
        if (m_burst >= m_current.size())
            return 0; // the unit has nothing more to say
        const Bytes& burst = m_current[m_burst];
        if (m_offset >= burst.size()) {
            // The silence after the burst outlasts the read time-out.
            ++m_burst;
            m_offset = 0;
            return 0;
        }
        std::size_t take = burst.size() - m_offset;
        if (take > static_cast<std::size_t>(count - received))
            take = static_cast<std::size_t>(count - received);
        std::memcpy(buffer + received, burst.data() + m_offset, take);
        m_offset += take;
        received += static_cast<int>(take);
    }
    return 1;
}

int CFuzzPort::Write(const std::uint8_t* buffer, int count)
{
    if (buffer == nullptr || count < 0)
        Fail("Write given no buffer or a negative count");
    m_written.emplace_back(buffer, buffer + count);
    bool acknowledgement = count == 6 && (buffer[3] == 0x00 || buffer[3] == 0xFF);
    if (!acknowledgement) {
        m_current.clear();
        if (!m_replies.empty()) {
            m_current = std::move(m_replies.front());
            m_replies.pop_front();
        }
        m_burst = 0;
        m_offset = 0;
    }
    return m_writeFails ? 0 : 1;
}

void Fail(const char* what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void Fail(const char* what, std::string_view text)
{
    std::fprintf(stderr, "invariant broken: %s: \"", what);
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\')
            std::fprintf(stderr, "\\x%02X", c);
        else
            std::fputc(c, stderr);
    }
    std::fprintf(stderr, "\"\n");
    std::abort();
}

} // namespace orvex::fuzz
