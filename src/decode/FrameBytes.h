#pragma once

#include "decode/DecodeContext.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// The bytes of one frame collected from the exchange record. Reads past
// the collected bytes give 0 and empty texts, so a short or truncated reply
// never reads outside what came off the wire.
class CFrameBytes {
public:
    CFrameBytes() = default;

    // Collects the first frame in `direction` ("<-" or "->"), at most
    // `capacity` bytes.
    void Collect(std::span<const std::string> record, std::string_view direction, int capacity);
    // The groups of one record line only.
    void CollectLine(std::string_view line, int capacity);

    int Count() const { return static_cast<int>(m_bytes.size()); }
    // The end of the data: the frame length (from the length byte, or the
    // 16-bit length of a long frame) or the bytes collected, whichever is
    // less, without the two check-code bytes.
    int DataEnd() const { return m_dataEnd; }
    // A data byte; 0 past the data, so the check code is never read as data.
    std::uint8_t Byte(int offset) const { return offset >= 0 && offset < m_dataEnd ? Raw(offset) : 0; }
    // Any collected byte (header and check code included); 0 past them.
    std::uint8_t Raw(int offset) const
    {
        return offset >= 0 && offset < Count() ? m_bytes[static_cast<std::size_t>(offset)] : 0;
    }
    // Big-endian unsigned number of `width` bytes (at most 8); 0 when the
    // data do not hold the whole field.
    std::uint64_t Number(int offset, int width) const;
    // Little-endian 16-bit number.
    std::uint16_t Little16(int offset) const;
    // Up to `width` characters from `offset`, ending early at a zero byte or
    // at the end of the data.
    std::string_view Text(int offset, int width) const;
    // Characters from `offset` up to a zero byte or the end of the data.
    std::string_view TextToZero(int offset) const;
    const std::uint8_t* Data() const { return m_bytes.data(); }

private:
    void FindDataEnd();

    std::vector<std::uint8_t> m_bytes;
    int m_dataEnd { 0 };
};

// Record-line helpers. A byte group is two upper-case hexadecimal digits
// followed by a blank (or the end of the line), as the record writes them.

// Parses the group at character `position` of `text`; false when there is
// none.
bool ParseGroup(std::string_view text, std::size_t position, std::uint8_t& value);
// Whether the text after the three-character direction mark begins with a
// byte group.
bool HasByteGroup(std::string_view line);
// The byte of group `index` after the direction mark, or 0 when the line
// holds no such group (the groups are read only as far as they go).
std::uint8_t LineByte(std::string_view line, int index);
// How many consecutive groups follow the direction mark.
int LineGroupCount(std::string_view line);

// The bytes of the first frame in `direction`, read from that line and the
// lines after it in the same direction, into buffer; returns the count.
// The buffer past the count may be written over.
int CollectFrameBytes(std::span<const std::string> record, std::string_view direction, std::uint8_t* buffer, int capacity);

std::string DecodeAcknowledgement(std::string_view replyLine, std::span<const std::string> record);
// "<- Invalid command", the reply line itself when its length byte cannot be
// read or is 0, or an empty text.
std::string CheckInvalidCommand(std::string_view replyLine);

// The common start of the data-reply decoders, with the decoders'
// differences as parameters.
enum class ShortReply {
    Acknowledge,       // length 6 or less goes to DecodeAcknowledgement
    AcknowledgeOneToSix, // length 1 to 6 does; 0 announces a long frame
    Decode,            // the decoder reads short replies by its own rules
};
enum class InvalidCommandCheck { Run, Skip };
enum class ByteSource {
    Record,      // collect the frame from the record, capacity 1024
    RecordFrame, // collect with the frame length as capacity (long frames)
    ReplyLine,   // the groups of the reply line only
};

struct CommonStartRule {
    ShortReply shortReply { ShortReply::Acknowledge };
    InvalidCommandCheck invalidCommand { InvalidCommandCheck::Run };
    ByteSource source { ByteSource::Record };
};

// True when the decoder goes on with `bytes`; false when `result` is the
// decoder's only line.
bool CommonStart(const DecodeInput& input, const CommonStartRule& rule, CFrameBytes& bytes, std::string& result);

inline constexpr int kReplyCapacity = 1024;
inline constexpr int kAcknowledgementCapacity = 256;

} // namespace orvex
