#include "decode/FrameBytes.h"
#include "link/Frame.h"
#include "link/WireVocabulary.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>

namespace orvex {

namespace {

constexpr std::size_t kPrefixLength = 3; // "-> " or "<- "
constexpr std::size_t kGroupLength = 3;  // "%02X "

// Upper-case hexadecimal digits only, as the record writes them; -1 for
// every other character.
constexpr auto kHexDigits = [] {
    std::array<std::int8_t, 256> digits {};
    for (auto& digit : digits)
        digit = -1;
    for (int value = 0; value < 10; ++value)
        digits[static_cast<std::size_t>('0' + value)] = static_cast<std::int8_t>(value);
    for (int value = 0; value < 6; ++value)
        digits[static_cast<std::size_t>('A' + value)] = static_cast<std::int8_t>(10 + value);
    return digits;
}();

int HexDigit(char character)
{
    return kHexDigits[static_cast<unsigned char>(character)];
}

bool StartsWith(std::string_view line, std::string_view mark)
{
    return line.size() >= mark.size() && line.substr(0, mark.size()) == mark;
}

// Reads the groups of one line into the buffer from `count` on; false when
// a position that is not a group (or no room) ended the reading. The same
// rule as ParseGroup at every position, with the bounds worked out once
// per line: long replies come as hundreds of lines.
bool ReadLineGroups(std::string_view line, std::uint8_t* buffer, int capacity, int& count)
{
    if (line.size() <= kPrefixLength)
        return true;
    const std::size_t text = line.size() - kPrefixLength;
    // A group every three characters; the last position holds one only
    // when two characters are left for it (its blank may be the line's end).
    const std::size_t groups = (text + 1) / kGroupLength;
    const std::size_t room = count < capacity ? static_cast<std::size_t>(capacity - count) : 0;
    const std::size_t take = std::min(groups, room);
    const std::size_t withBlank = std::min(take, text / kGroupLength);
    const char* at = line.data() + kPrefixLength;
    // The groups with their blanks read without a test each (a record line
    // nearly always holds nothing else); a line that does is read again a
    // group at a time to stop where the groups stop.
    int wrong = 0;
    for (std::size_t index = 0; index < withBlank; ++index) {
        const char* group = at + kGroupLength * index;
        const int high = HexDigit(group[0]);
        const int low = HexDigit(group[1]);
        wrong |= high | low | (group[2] ^ ' ');
        buffer[static_cast<std::size_t>(count) + index] = static_cast<std::uint8_t>(high * 16 + low);
    }
    if (wrong != 0) {
        for (std::size_t index = 0; index < withBlank; ++index, at += kGroupLength) {
            const int high = HexDigit(at[0]);
            const int low = HexDigit(at[1]);
            if ((high | low) < 0 || at[2] != ' ')
                return false;
            buffer[count++] = static_cast<std::uint8_t>(high * 16 + low);
        }
    } else {
        count += static_cast<int>(withBlank);
        at += kGroupLength * withBlank;
    }
    if (withBlank < take) {
        const int high = HexDigit(at[0]);
        const int low = HexDigit(at[1]);
        if ((high | low) < 0)
            return false;
        buffer[count++] = static_cast<std::uint8_t>(high * 16 + low);
    }
    // Stopped for want of room, or a last character that is no group.
    return take == groups && text % kGroupLength != 1;
}

} // namespace

bool ParseGroup(std::string_view text, std::size_t position, std::uint8_t& value)
{
    if (position + 2 > text.size())
        return false;
    int high = HexDigit(text[position]);
    int low = HexDigit(text[position + 1]);
    if (high < 0 || low < 0)
        return false;
    // The blank keeps a failure text such as "Data error" from reading as
    // the byte DA.
    if (position + 2 < text.size() && text[position + 2] != ' ')
        return false;
    value = static_cast<std::uint8_t>(high * 16 + low);
    return true;
}

bool HasByteGroup(std::string_view line)
{
    std::uint8_t value = 0;
    return ParseGroup(line, kPrefixLength, value);
}

std::uint8_t LineByte(std::string_view line, int index)
{
    std::uint8_t value = 0;
    if (index < 0 || !ParseGroup(line, kPrefixLength + kGroupLength * static_cast<std::size_t>(index), value))
        return 0;
    return value;
}

int LineGroupCount(std::string_view line)
{
    int count = 0;
    std::uint8_t value = 0;
    for (std::size_t position = kPrefixLength; ParseGroup(line, position, value); position += kGroupLength)
        ++count;
    return count;
}

int CollectFrameBytes(std::span<const std::string> record, std::string_view direction, std::uint8_t* buffer, int capacity)
{
    int count = 0;
    if (!buffer || capacity <= 0)
        return 0;
    std::size_t index = 0;
    while (index < record.size() && !StartsWith(record[index], direction))
        ++index;
    for (; index < record.size() && StartsWith(record[index], direction); ++index) {
        if (!ReadLineGroups(record[index], buffer, capacity, count))
            break;
    }
    return count;
}

void CFrameBytes::Collect(std::span<const std::string> record, std::string_view direction, int capacity)
{
    m_bytes.clear();
    if (capacity <= 0)
        return;
    // Never more bytes than the lines of the record can hold.
    std::size_t available = 0;
    for (const std::string& line : record)
        available += line.size() / kGroupLength + 1;
    std::size_t size = std::min(available, static_cast<std::size_t>(capacity));
    m_bytes.resize(size);
    int count = CollectFrameBytes(record, direction, m_bytes.data(), static_cast<int>(size));
    m_bytes.resize(static_cast<std::size_t>(count));
    FindDataEnd();
}

void CFrameBytes::CollectLine(std::string_view line, int capacity)
{
    m_bytes.clear();
    if (capacity <= 0)
        return;
    m_bytes.resize(static_cast<std::size_t>(capacity));
    int count = 0;
    ReadLineGroups(line, m_bytes.data(), capacity, count);
    m_bytes.resize(static_cast<std::size_t>(count));
    FindDataEnd();
}

void CFrameBytes::FindDataEnd()
{
    int length = Raw(2);
    if (length == 0)
        length = Raw(3) * 256 + Raw(4);
    int end = std::min(length, Count()) - 2;
    m_dataEnd = end > 0 ? end : 0;
}

std::uint64_t CFrameBytes::Number(int offset, int width) const
{
    if (offset < 0 || width <= 0 || width > 8 || offset + width > m_dataEnd)
        return 0;
    std::uint64_t value = 0;
    for (int index = 0; index < width; ++index)
        value = (value << 8) | m_bytes[static_cast<std::size_t>(offset + index)];
    return value;
}

std::uint16_t CFrameBytes::Little16(int offset) const
{
    return static_cast<std::uint16_t>(Byte(offset) | (Byte(offset + 1) << 8));
}

std::string_view CFrameBytes::Text(int offset, int width) const
{
    if (offset < 0 || width <= 0 || offset >= m_dataEnd)
        return {};
    const char* start = reinterpret_cast<const char*>(m_bytes.data()) + offset;
    int limit = std::min(width, m_dataEnd - offset);
    int length = 0;
    while (length < limit && start[length] != '\0')
        ++length;
    return std::string_view(start, static_cast<std::size_t>(length));
}

std::string_view CFrameBytes::TextToZero(int offset) const
{
    return Text(offset, m_dataEnd);
}

std::string DecodeAcknowledgement(std::string_view replyLine, std::span<const std::string> record)
{
    std::uint8_t bytes[kAcknowledgementCapacity];
    int count = 0;
    if (record.empty())
        ReadLineGroups(replyLine, bytes, kAcknowledgementCapacity, count);
    else
        count = CollectFrameBytes(record, "<-", bytes, kAcknowledgementCapacity);
    if (count <= 3)
        return std::string(replyLine);
    switch (bytes[3]) {
    case wire::kAck:
        return "<- ACK";
    case wire::kInvalidCommand:
        return "<- Invalid command";
    case wire::kNak:
        return "<- NAK";
    default: {
        char text[40];
        std::snprintf(text, sizeof text, "<- Unknown code: 0x%X", static_cast<unsigned>(bytes[3]));
        return text;
    }
    }
}

std::string CheckInvalidCommand(std::string_view replyLine)
{
    // After the prefix and the SYNC and address groups stands the length.
    constexpr std::size_t kLengthPosition = kPrefixLength + 2 * kGroupLength;
    std::uint8_t length = 0;
    if (!ParseGroup(replyLine, kLengthPosition, length) || length == 0)
        return std::string(replyLine);
    std::uint8_t code = 0;
    if (length == kShortestFrame && ParseGroup(replyLine, kLengthPosition + kGroupLength, code) && code == wire::kInvalidCommand)
        return "<- Invalid command";
    return {};
}

bool CommonStart(const DecodeInput& input, const CommonStartRule& rule, CFrameBytes& bytes, std::string& result)
{
    std::string_view line = input.line;
    if (!HasByteGroup(line)) {
        result.assign(line);
        return false;
    }
    int length = LineByte(line, 2);
    bool acknowledgement = (rule.shortReply == ShortReply::Acknowledge && length <= 6)
        || (rule.shortReply == ShortReply::AcknowledgeOneToSix && length >= 1 && length <= 6);
    if (acknowledgement) {
        result = DecodeAcknowledgement(line, input.record);
        return false;
    }
    if (rule.invalidCommand == InvalidCommandCheck::Run) {
        result = CheckInvalidCommand(line);
        if (!result.empty())
            return false;
    }
    switch (rule.source) {
    case ByteSource::ReplyLine:
        bytes.CollectLine(line, kReplyCapacity);
        break;
    case ByteSource::Record:
    case ByteSource::RecordFrame: {
        int capacity = kReplyCapacity;
        if (rule.source == ByteSource::RecordFrame)
            capacity = length != 0 ? length : LineByte(line, 3) * 256 + LineByte(line, 4);
        try {
            if (input.record.empty())
                bytes.CollectLine(line, capacity);
            else
                bytes.Collect(input.record, "<-", capacity);
        } catch (const std::bad_alloc&) {
            result = "!!!!!!!!!!!!!!!!Memory error!!!!!!!!!!!!!!!!!";
            return false;
        }
        break;
    }
    }
    return true;
}

} // namespace orvex
