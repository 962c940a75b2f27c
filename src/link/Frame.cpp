#include "link/Frame.h"

#include "link/CheckCode.h"
#include "link/WireVocabulary.h"

#include <algorithm>

namespace orvex {

FrameVerdict JudgeFrame(std::span<const std::uint8_t> bytes, int& frameLength)
{
    frameLength = 0;
    if (bytes.empty())
        return FrameVerdict::NeedMore;
    if (bytes[0] != wire::kSync)
        return FrameVerdict::BadSync;
    if (bytes.size() < kShortHeader)
        return FrameVerdict::NeedMore;
    bool longForm = bytes[2] == wire::kLongFormMark;
    if (longForm && bytes.size() < kLongHeader)
        return FrameVerdict::NeedMore;
    frameLength = FrameLength(bytes.data());
    // A length that cannot describe a frame would leave no room for the
    // header, a body byte and the check code.
    if (frameLength < (longForm ? kShortestLongFrame : kShortestFrame))
        return FrameVerdict::BadLength;
    std::size_t length = static_cast<std::size_t>(frameLength);
    if (bytes.size() < length)
        return FrameVerdict::NeedMore;
    std::uint16_t computed = CheckCodeOver(bytes.data(), length - kCheckCodeSize);
    std::uint16_t received = static_cast<std::uint16_t>(bytes[length - 2] | bytes[length - 1] << 8);
    return computed == received ? FrameVerdict::Whole : FrameVerdict::BadCheckCode;
}

int FrameLength(const std::uint8_t* header)
{
    if (header[2] != wire::kLongFormMark)
        return header[2];
    return header[3] * 256 + header[4];
}

void FinishFrame(std::uint8_t* frame, int length, std::uint8_t address)
{
    if (length > 1)
        frame[1] = address;
    if (length < 3)
        return;
    std::uint16_t code = CheckCodeOver(frame, static_cast<std::size_t>(length - kCheckCodeSize));
    frame[length - 2] = static_cast<std::uint8_t>(code & 0xFF);
    frame[length - 1] = static_cast<std::uint8_t>(code >> 8);
}

std::vector<std::uint8_t> BuildFrame(std::uint8_t address, std::span<const std::uint8_t> body, FrameForm form)
{
    std::size_t shortLength = body.size() + kShortHeader + kCheckCodeSize;
    bool longForm = form == FrameForm::Long || shortLength > kLongestShortFrame;
    std::size_t header = longForm ? kLongHeader : kShortHeader;
    std::size_t length = body.size() + header + kCheckCodeSize;
    std::vector<std::uint8_t> frame(length, 0);
    frame[0] = wire::kSync;
    if (longForm) {
        frame[2] = wire::kLongFormMark;
        frame[3] = static_cast<std::uint8_t>(length >> 8);
        frame[4] = static_cast<std::uint8_t>(length & 0xFF);
    } else {
        frame[2] = static_cast<std::uint8_t>(length);
    }
    std::copy(body.begin(), body.end(), frame.begin() + static_cast<std::ptrdiff_t>(header));
    FinishFrame(frame.data(), static_cast<int>(length), address);
    return frame;
}

std::vector<std::uint8_t> BuildCommandFrame(std::uint8_t address, std::uint8_t code, std::span<const std::uint8_t> data)
{
    std::vector<std::uint8_t> body;
    body.reserve(data.size() + 1);
    body.push_back(code);
    body.insert(body.end(), data.begin(), data.end());
    return BuildFrame(address, body);
}

std::vector<std::uint8_t> BuildAck(std::uint8_t address)
{
    return BuildCommandFrame(address, wire::kAck);
}

std::vector<std::uint8_t> BuildNak(std::uint8_t address)
{
    return BuildCommandFrame(address, wire::kNak);
}

} // namespace orvex
