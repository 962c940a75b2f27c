#include "support/FuzzFrames.h"

#include "link/CheckCode.h"

namespace orvex::fuzz {

std::uint16_t ReferenceCheckCode(const std::uint8_t* bytes, std::size_t count)
{
    std::uint16_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        value ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? static_cast<std::uint16_t>((value >> 1) ^ 0x8408) : static_cast<std::uint16_t>(value >> 1);
    }
    return value;
}

std::string ReferenceHex(const std::uint8_t* bytes, std::size_t count)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text(count * 3, ' ');
    for (std::size_t i = 0; i < count; ++i) {
        text[i * 3] = digits[bytes[i] >> 4];
        text[i * 3 + 1] = digits[bytes[i] & 0xF];
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
        bytes[0] = kSync;
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
    std::string hex = ReferenceHex(frame);
    for (std::size_t start = 0; start < hex.size(); start += 60)
        lines.push_back(std::string(prefix) + hex.substr(start, 60));
    return lines;
}

} // namespace orvex::fuzz
