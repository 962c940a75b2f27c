#include "support/FuzzFrames.h"

#include "link/CheckCode.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace orvex::fuzz {

namespace {

// The CRC-16/KERMIT table, made here bit by bit from the polynomial.
constexpr auto kCheckCodeTable = [] {
    std::array<std::uint16_t, 256> table {};
    for (unsigned byte = 0; byte < 256; ++byte) {
        std::uint16_t value = static_cast<std::uint16_t>(byte);
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? static_cast<std::uint16_t>((value >> 1) ^ 0x8408) : static_cast<std::uint16_t>(value >> 1);
        table[byte] = value;
    }
    return table;
}();

constexpr char kDigits[] = "0123456789ABCDEF";

} // namespace

std::uint16_t ReferenceCheckCode(const std::uint8_t* bytes, std::size_t count)
{
    std::uint16_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = static_cast<std::uint16_t>((value >> 8) ^ kCheckCodeTable[(value ^ bytes[i]) & 0xFF]);
    return value;
}

std::string ReferenceHex(const std::uint8_t* bytes, std::size_t count)
{
    std::string text(count * 3, ' ');
    for (std::size_t i = 0; i < count; ++i) {
        text[i * 3] = kDigits[bytes[i] >> 4];
        text[i * 3 + 1] = kDigits[bytes[i] & 0xF];
    }
    return text;
}

std::size_t DeclaredLength(const Bytes& header)
{
    if (header.size() < 3 || (header[2] == 0 && header.size() < 5))
        return 0;
    return header[2] != 0 ? header[2] : static_cast<std::size_t>(header[3]) * 256 + header[4];
}

Bytes ReadReply(CFuzzInput& input, std::uint8_t shape, std::size_t padLimit)
{
    Bytes bytes = input.Bytes(input.Word());
    if ((shape & kForceSync) && !bytes.empty())
        bytes[0] = wire::kSync;
    if ((shape & kPadToLength) && bytes.size() >= 5) {
        // Longer frames take the same path and would only slow every run.
        std::size_t declared = DeclaredLength(bytes);
        std::size_t given = bytes.size();
        if (declared > given && declared <= padLimit) {
            // Repeat what was given, so padded data is not all one value.
            bytes.resize(declared);
            for (std::size_t i = given; i < declared; ++i)
                bytes[i] = bytes[3 + (i - given) % (given - 3)];
        }
    }
    if ((shape & kForceLength) && bytes.size() >= 6) {
        if (bytes.size() <= 255) {
            bytes[2] = static_cast<std::uint8_t>(bytes.size());
        } else {
            bytes[2] = 0;
            bytes[3] = static_cast<std::uint8_t>(bytes.size() >> 8);
            bytes[4] = static_cast<std::uint8_t>(bytes.size() & 0xFF);
        }
    }
    if ((shape & kFixCheckCode) && bytes.size() >= 6) {
        std::size_t length = DeclaredLength(bytes);
        if (length >= 6 && length <= bytes.size()) {
            std::uint16_t code = ReferenceCheckCode(bytes.data(), length - 2);
            bytes[length - 2] = static_cast<std::uint8_t>(code & 0xFF);
            bytes[length - 1] = static_cast<std::uint8_t>(code >> 8);
        }
    }
    return bytes;
}

CScriptedUnit::Reply ReadBursts(CFuzzInput& input, const Bytes& bytes, std::uint8_t shape)
{
    CScriptedUnit::Reply reply;
    if (!(shape & kSplitAnywhere)) {
        reply.push_back(bytes);
        return reply;
    }
    std::size_t bursts = input.Below(3);
    std::size_t start = 0;
    while (start < bytes.size() && reply.size() < bursts) {
        std::size_t size = input.Word();
        if (size > bytes.size() - start)
            size = bytes.size() - start;
        reply.emplace_back(bytes.begin() + static_cast<long>(start), bytes.begin() + static_cast<long>(start + size));
        start += size;
    }
    if (start < bytes.size())
        reply.emplace_back(bytes.begin() + static_cast<long>(start), bytes.end());
    return reply;
}

void FinishReply(Bytes& frame)
{
    if (frame.size() < 6)
        return;
    if (frame.size() <= 255) {
        frame[2] = static_cast<std::uint8_t>(frame.size());
    } else {
        frame[2] = 0;
        frame[3] = static_cast<std::uint8_t>(frame.size() >> 8);
        frame[4] = static_cast<std::uint8_t>(frame.size() & 0xFF);
    }
    std::uint16_t code = ReferenceCheckCode(frame.data(), frame.size() - 2);
    frame[frame.size() - 2] = static_cast<std::uint8_t>(code & 0xFF);
    frame[frame.size() - 1] = static_cast<std::uint8_t>(code >> 8);
}

std::vector<std::string> RecordLines(std::string_view prefix, const Bytes& frame)
{
    std::vector<std::string> lines;
    AddRecordLines(lines, prefix, frame);
    return lines;
}

void AddRecordLines(std::vector<std::string>& record, std::string_view prefix, const Bytes& frame)
{
    for (std::size_t start = 0; start < frame.size(); start += 20)
        PutRecordLine(record.emplace_back(), prefix, frame, start);
}

void PutRecordLine(std::string& line, std::string_view prefix, const Bytes& frame, std::size_t start)
{
    const std::size_t count = std::min<std::size_t>(20, frame.size() - start);
    line.resize(prefix.size() + 3 * count);
    char* text = line.data();
    std::memcpy(text, prefix.data(), prefix.size());
    text += prefix.size();
    for (std::size_t i = start; i < start + count; ++i, text += 3) {
        text[0] = kDigits[frame[i] >> 4];
        text[1] = kDigits[frame[i] & 0xF];
        text[2] = ' ';
    }
}

void CRecordPool::Start() { m_used = 0; }

void CRecordPool::Add(std::string_view prefix, const Bytes& frame)
{
    for (std::size_t start = 0; start < frame.size(); start += 20)
        PutRecordLine(Next(), prefix, frame, start);
}

std::string& CRecordPool::Next()
{
    if (m_used == m_record.size()) {
        if (m_spare.empty()) {
            m_record.emplace_back();
        } else {
            m_record.push_back(std::move(m_spare.back()));
            m_spare.pop_back();
        }
    }
    return m_record[m_used++];
}

const std::vector<std::string>& CRecordPool::Record()
{
    while (m_record.size() > m_used) {
        m_spare.push_back(std::move(m_record.back()));
        m_record.pop_back();
    }
    return m_record;
}

} // namespace orvex::fuzz
