#include "capture/JsonLines.h"

#include "capture/WireRecord.h"
#include "link/CCommand.h"
#include "protocol/CKRMSProtocol.h"

#include <nlohmann/json.hpp>

#include <algorithm>

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

// The lines are written field by field, in a fixed order, so that a
// million exchanges do not build a million object trees; every text that
// may hold anything (device texts, port names, log names) is quoted by the
// JSON library, which also turns bytes that are not UTF-8 into U+FFFD.
// Texts of plain printable ASCII need no escaping and are copied as they are.
void AppendString(std::string& out, std::string_view text)
{
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        const unsigned char byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\';
    });
    if (plain) {
        out += '"';
        out.append(text);
        out += '"';
        return;
    }
    out += Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

void AppendKey(std::string& out, const char* key)
{
    if (out.size() > 1)
        out += ',';
    out += '"';
    out += key;
    out += "\":";
}

void AppendHex(std::string& out, const std::vector<std::uint8_t>& bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += '"';
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        if (index > 0)
            out += ' ';
        out += kDigits[bytes[index] >> 4];
        out += kDigits[bytes[index] & 0x0F];
    }
    out += '"';
}

} // namespace

std::string JsonExchangeLine(const WireExchange& exchange, std::string_view port, std::span<const std::string> lines)
{
    std::string out = "{";
    out.reserve(256);
    AppendKey(out, "time_us");
    out += std::to_string(Microseconds(exchange.TimeNs()));
    AppendKey(out, "port");
    AppendString(out, port);
    AppendKey(out, "address");
    out += exchange.address >= 0 ? std::to_string(exchange.address) : "null";
    AppendKey(out, "name");
    AppendString(out, exchange.name);
    if (exchange.kind == WireExchangeKind::Stray) {
        AppendKey(out, "stray");
        out += "true";
    }
    AppendKey(out, "frames");
    out += '[';
    for (std::size_t index = 0; index < exchange.frames.size(); ++index) {
        const WireFrame& frame = exchange.frames[index];
        out += index == 0 ? "{" : ",{";
        out += "\"direction\":\"";
        out += DirectionName(frame.direction);
        out += "\",\"time_us\":";
        out += std::to_string(Microseconds(frame.timeNs));
        out += ",\"hex\":";
        AppendHex(out, frame.bytes);
        if (frame.kind != WireFrameKind::Frame) {
            out += ",\"kind\":\"";
            out += KindName(frame.kind);
            out += '"';
        }
        out += '}';
    }
    out += ']';
    AppendKey(out, "lines");
    out += '[';
    for (std::size_t index = 0; index < lines.size(); ++index) {
        if (index > 0)
            out += ',';
        AppendString(out, lines[index]);
    }
    out += ']';
    if (exchange.kind == WireExchangeKind::Exchange) {
        AppendKey(out, "result");
        out += std::to_string(exchange.result);
        AppendKey(out, "result_text");
        AppendString(out, CKRMSProtocol::ErrorText(exchange.result));
    }
    out += '}';
    return out;
}

std::string JsonEventLine(const WireEvent& event, std::string_view port)
{
    std::string out = "{";
    AppendKey(out, "time_us");
    out += std::to_string(Microseconds(event.timeNs));
    AppendKey(out, "port");
    AppendString(out, port);
    AppendKey(out, "event");
    AppendString(out, event.text);
    out += '}';
    return out;
}

std::string JsonMessageLine(std::int64_t timeNs, std::string_view text)
{
    std::string out = "{";
    AppendKey(out, "time_us");
    out += std::to_string(Microseconds(timeNs));
    AppendKey(out, "message");
    AppendString(out, text);
    out += '}';
    return out;
}

} // namespace orvex
