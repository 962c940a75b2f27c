#include "capture/WireRecord.h"

#include "link/CCommand.h"
#include "link/CheckCode.h"
#include "protocol/CKRMSProtocol.h"
#include "protocol/ExchangeRecord.h"

namespace orvex {

namespace {

void AppendFrame(std::vector<std::string>& record, const char* prefix, const WireFrame& frame)
{
    AppendRecordLines(record, prefix, frame.bytes.data(), static_cast<int>(frame.bytes.size()));
}

bool IsNakReply(const WireFrame& frame)
{
    return frame.kind == WireFrameKind::Frame && frame.bytes.size() == 6 && frame.bytes[2] == 6 && frame.bytes[3] == wire::kNak;
}

} // namespace

const char* DirectionName(WireDirection direction)
{
    switch (direction) {
    case WireDirection::FromController: return "controller";
    case WireDirection::FromDevice: return "device";
    case WireDirection::Unknown: break;
    }
    return "unknown";
}

std::vector<std::string> RecordOf(const WireExchange& exchange)
{
    std::vector<std::string> record;
    if (exchange.frames.empty())
        return record;
    const WireFrame& command = exchange.frames.front();
    AppendFrame(record, "-> ", command);
    if (exchange.result == kTimeout) {
        record.push_back("<- " + CKRMSProtocol::ErrorText(kTimeout));
        return record;
    }
    const std::size_t count = exchange.frames.size();
    if (exchange.result != kOk) {
        record.push_back("<- " + CKRMSProtocol::ErrorText(exchange.result));
        for (std::size_t index = 2; index < count; ++index)
            AppendFrame(record, "-> ", exchange.frames[index]);
        return record;
    }
    if (count < 2)
        return record;
    AppendFrame(record, "<- ", exchange.frames[1]);
    // After the unit's NAK the engine records the command once more.
    if (IsNakReply(exchange.frames[1]))
        AppendFrame(record, "-> ", command);
    for (std::size_t index = 2; index < count; ++index)
        AppendFrame(record, "-> ", exchange.frames[index]);
    return record;
}

std::string StrayLine(const WireExchange& stray)
{
    if (stray.frames.empty())
        return {};
    const WireFrame& frame = stray.frames.front();
    std::string line;
    line.reserve(40 + 3 * frame.bytes.size());
    switch (frame.direction) {
    case WireDirection::FromController: line = "-> "; break;
    case WireDirection::FromDevice: line = "<- "; break;
    case WireDirection::Unknown: line = "?? "; break;
    }
    switch (frame.kind) {
    case WireFrameKind::Frame:
        if (frame.direction == WireDirection::FromDevice)
            line += "Unsolicited reply: ";
        else if (frame.bytes.size() == 6 && (frame.bytes[3] == wire::kAck || frame.bytes[3] == wire::kNak))
            line += frame.bytes[3] == wire::kAck ? "ACK without a reply: " : "NAK without a reply: ";
        else
            line += "Frame outside an exchange: ";
        break;
    case WireFrameKind::BadCheckCode: line += "Frame with a wrong check code: "; break;
    case WireFrameKind::Truncated: line += "Truncated frame: "; break;
    case WireFrameKind::Noise: line += "Noise: "; break;
    }
    AppendHexText(line, frame.bytes.data(), static_cast<int>(frame.bytes.size()));
    if (!frame.bytes.empty())
        line.pop_back();
    return line;
}

} // namespace orvex
