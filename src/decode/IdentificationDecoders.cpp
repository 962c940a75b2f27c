#include "decode/Decoders.h"
#include "decode/FrameBytes.h"
#include "link/Bcd.h"

#include <cinttypes>
#include <cstdio>

namespace orvex {

namespace {

constexpr CommonStartRule kWholeStart { ShortReply::Acknowledge, InvalidCommandCheck::Run, ByteSource::Record };
constexpr CommonStartRule kLineStart { ShortReply::Decode, InvalidCommandCheck::Run, ByteSource::ReplyLine };
constexpr CommonStartRule kTimeStart { ShortReply::Acknowledge, InvalidCommandCheck::Skip, ByteSource::Record };
constexpr CommonStartRule kUserDataStart { ShortReply::AcknowledgeOneToSix, InvalidCommandCheck::Skip, ByteSource::RecordFrame };

constexpr int kLongIdentification = 109;

std::string Labelled(std::string_view label, std::string_view text)
{
    std::string line;
    line.reserve(label.size() + text.size());
    line.append(label).append(text);
    return line;
}

struct TextField {
    int offset;
    int width;
    const char* label;
};

constexpr TextField kLongFields[] = {
    { 38, 6, "<-  BV Boot :" },
    { 44, 20, "<-  BV Soft : " },
    { 64, 6, "<-  CPU Boot: " },
    { 70, 6, "<-  CPU Soft: " },
    { 76, 6, "<-  Dispenser Boot: " },
    { 82, 6, "<-  Dispenser Soft: " },
    { 88, 6, "<-  Cassete 1 Boot: " },
    { 94, 6, "<-  Cassete 2 Boot: " },
    { 100, 6, "<-  Cassete 3 Boot: " },
    { 106, 6, "<-  Cassete Soft: " },
};

constexpr TextField kModuleFields[] = {
    { 3, 12, "<-  CPU SN: " },
    { 15, 12, "<-  Dispenser SN: " },
    { 27, 12, "<-  Cassete 1 SN: " },
    { 39, 12, "<-  Cassete 2 SN: " },
    { 51, 12, "<-  Cassete 3 SN: " },
};

// Adds every line but the last and returns the last.
std::string AddAllButLast(std::vector<std::string>& lines, DecodeOutput& output)
{
    std::string last = std::move(lines.back());
    lines.pop_back();
    for (std::string& line : lines)
        output.Add(std::move(line));
    return last;
}

} // namespace

std::string DecodeIdentification(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kWholeStart, bytes, result))
        return result;
    std::vector<std::string> lines;
    lines.reserve(13);
    lines.push_back(Labelled("<-  Part Number :", bytes.Text(3, 15)));
    lines.push_back(Labelled("<-  SN: ", bytes.Text(18, 12)));
    char asset[40];
    std::snprintf(asset, sizeof asset, "<-  Asset: %" PRIX64, bytes.Number(30, 7));
    lines.emplace_back(asset);
    if (bytes.Raw(2) >= kLongIdentification) {
        for (const TextField& field : kLongFields)
            lines.push_back(Labelled(field.label, bytes.Text(field.offset, field.width)));
    }
    return AddAllButLast(lines, output);
}

std::string DecodeModuleIdentification(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kWholeStart, bytes, result))
        return result;
    std::vector<std::string> lines;
    lines.reserve(5);
    for (const TextField& field : kModuleFields)
        lines.push_back(Labelled(field.label, bytes.Text(field.offset, field.width)));
    return AddAllButLast(lines, output);
}

std::string DecodeValidationSoftwareIdentification(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kWholeStart, bytes, result))
        return result;
    output.Add(Labelled("<-  Part Number :", bytes.Text(3, 15)));
    char line[40];
    std::snprintf(line, sizeof line, "<-  CRC32: %08X", static_cast<unsigned>(bytes.Number(21, 4)));
    return line;
}

std::string DecodeCrc32(const DecodeInput& input, DecodeOutput&)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kLineStart, bytes, result))
        return result;
    char line[40];
    std::snprintf(line, sizeof line, "<- CRC32:    0x%08X", static_cast<unsigned>(bytes.Number(3, 4)));
    return line;
}

std::string DecodeStatus(const DecodeInput& input, DecodeOutput&)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kLineStart, bytes, result))
        return result;
    char line[96];
    auto enabled = static_cast<unsigned>(bytes.Number(3, 3));
    auto security = static_cast<unsigned>(bytes.Number(6, 3));
    if (input.context.deviceChoice == kDeviceChoiceCyclor)
        std::snprintf(line, sizeof line, "<- Enabled bills: %06X, Security levels: %06X, Routed bills: %06X", enabled,
            security, static_cast<unsigned>(bytes.Number(9, 3)));
    else
        std::snprintf(line, sizeof line, "<- Enabled bills: %06X, Security levels: %06X", enabled, security);
    return line;
}

std::string DecodeTime(const DecodeInput& input, DecodeOutput&)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kTimeStart, bytes, result))
        return result;
    std::string text;
    if (bytes.DataEnd() >= 10
        && FormatCalendarTime(2000 + BcdValue(bytes.Byte(9)), BcdValue(bytes.Byte(8)), BcdValue(bytes.Byte(7)),
            BcdValue(bytes.Byte(5)), BcdValue(bytes.Byte(4)), BcdValue(bytes.Byte(3)), text))
        return "<- Time: " + text;
    return "<- Invalid data";
}

std::string DecodeBarcode(const DecodeInput& input, DecodeOutput&)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kWholeStart, bytes, result))
        return result;
    std::string line = "<- Barcode: ";
    if (bytes.DataEnd() > 3)
        line.append(reinterpret_cast<const char*>(bytes.Data()) + 3, static_cast<std::size_t>(bytes.DataEnd() - 3));
    return line;
}

std::string DecodeUserData(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kUserDataStart, bytes, result))
        return result;
    // The text ends before the last data byte; the long frame's data start
    // after its 16-bit length.
    int first = bytes.Raw(2) == 0 ? 5 : 3;
    int end = bytes.Count() - 3;
    std::string text;
    bool visible = true;
    for (int offset = first; offset < end; ++offset) {
        char character = static_cast<char>(bytes.Raw(offset));
        if (character == '\r')
            continue;
        if (character == '\n') {
            output.Add(std::move(text));
            text.clear();
            visible = true;
            continue;
        }
        if (character == '\0')
            visible = false;
        else if (visible)
            text.push_back(character);
    }
    output.Add(std::move(text));
    return {};
}

} // namespace orvex
