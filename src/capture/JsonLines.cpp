#include "capture/JsonLines.h"

#include "capture/WireRecord.h"
#include "link/CCommand.h"
#include "protocol/CKRMSProtocol.h"

#include <nlohmann/json.hpp>

namespace orvex {

namespace {

using Json = nlohmann::json;

std::int64_t Microseconds(std::int64_t timeNs) { return timeNs / 1000; }

const char* KindName(WireFrameKind kind)
{
    switch (kind) {
    case WireFrameKind::Frame: return "frame";
    case WireFrameKind::BadCheckCode: return "bad check code";
    case WireFrameKind::Truncated: return "truncated";
    case WireFrameKind::Noise: return "noise";
    }
    return "frame";
}

std::string Dump(const Json& object)
{
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text = HexText(bytes.data(), static_cast<int>(bytes.size()));
    if (!text.empty())
        text.pop_back();
    return text;
}

} // namespace

std::string JsonExchangeLine(const WireExchange& exchange, std::string_view port, std::span<const std::string> lines)
{
    Json object;
    object["time_us"] = Microseconds(exchange.TimeNs());
    object["port"] = port;
    if (exchange.address >= 0)
        object["address"] = exchange.address;
    else
        object["address"] = nullptr;
    object["name"] = exchange.name;
    if (exchange.kind == WireExchangeKind::Stray)
        object["stray"] = true;
    Json frames = Json::array();
    for (const WireFrame& frame : exchange.frames) {
        Json entry;
        entry["direction"] = DirectionName(frame.direction);
        entry["time_us"] = Microseconds(frame.timeNs);
        entry["hex"] = Hex(frame.bytes);
        if (frame.kind != WireFrameKind::Frame)
            entry["kind"] = KindName(frame.kind);
        frames.push_back(std::move(entry));
    }
    object["frames"] = std::move(frames);
    Json decoded = Json::array();
    for (const std::string& line : lines)
        decoded.push_back(line);
    object["lines"] = std::move(decoded);
    if (exchange.kind == WireExchangeKind::Exchange) {
        object["result"] = exchange.result;
        object["result_text"] = CKRMSProtocol::ErrorText(exchange.result);
    }
    return Dump(object);
}

std::string JsonEventLine(const WireEvent& event, std::string_view port)
{
    Json object;
    object["time_us"] = Microseconds(event.timeNs);
    object["port"] = port;
    object["event"] = event.text;
    return Dump(object);
}

std::string JsonMessageLine(std::int64_t timeNs, std::string_view text)
{
    Json object;
    object["time_us"] = Microseconds(timeNs);
    object["message"] = text;
    return Dump(object);
}

} // namespace orvex
