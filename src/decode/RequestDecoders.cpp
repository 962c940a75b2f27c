#include "decode/Decoders.h"
#include "decode/FrameBytes.h"
#include "link/Bcd.h"
#include "link/WireVocabulary.h"

#include <algorithm>
#include <cstdio>

namespace orvex {

namespace {

// Offsets of the command frame: 3 is the command code, 4 the first data byte.
constexpr int kFirstData = 4;

std::uint32_t LineNumber(std::string_view line, int index, int width)
{
    std::uint32_t value = 0;
    for (int offset = 0; offset < width; ++offset)
        value = (value << 8) | LineByte(line, index + offset);
    return value;
}

template <typename... Values>
void AddFormatted(DecodeOutput& output, const char* format, Values... values)
{
    char text[160];
    std::snprintf(text, sizeof text, format, values...);
    output.Add(text);
}

struct OptionText {
    int bit;
    const char* requestSet;
    const char* requestClear;
    const char* replySet;
    const char* replyClear;
};

constexpr OptionText kOptions[] = {
    { 31, "->    set LED BV INHIBIT option ", "->    clear LED BV INHIBIT option ",
        "<-    LED BV INHIBIT option is set", "<-    LED BV INHIBIT option is cleared" },
    { 30, "->    set KEEP BILL option", "->    clear KEEP BILL option",
        "<-    KEEP BILL option is set", "<-    KEEP BILL option is cleared" },
    { 29, "->    set LOOK TAPE option", "->    clear LOOK TAPE option",
        "<-    LOOK TAPE option is set", "<-    LOOK TAPE option is cleared" },
    { 28, "->    set TURN SWITCH option", "->    clear TURN SWITCH option",
        "<-    TURN SWITCH option is set", "<-    TURN SWITCH option is cleared" },
};

enum class OptionsForm { Request, Reply };

std::string DecodeOptions(std::string_view line, OptionsForm form, DecodeOutput& output)
{
    if (!HasByteGroup(line))
        return std::string(line);
    std::string invalid = CheckInvalidCommand(line);
    if (!invalid.empty())
        return invalid;
    int first = form == OptionsForm::Request ? kFirstData : 3;
    std::uint32_t options = LineNumber(line, first, 4);
    for (const OptionText& option : kOptions) {
        bool set = (options >> option.bit) & 1U;
        if (form == OptionsForm::Request)
            output.Add(set ? option.requestSet : option.requestClear);
        else
            output.Add(set ? option.replySet : option.replyClear);
    }
    return {};
}

} // namespace

std::string DecodeAcknowledgementReply(const DecodeInput& input, DecodeOutput&)
{
    return DecodeAcknowledgement(input.line, input.record);
}

std::string DecodeRawReply(const DecodeInput& input, DecodeOutput&)
{
    return std::string(input.line);
}

void DecodeRawRequest(const DecodeInput& input, DecodeOutput& output)
{
    output.Add(std::string(input.line));
}

void DecodeBillTypeRequest(const DecodeInput& input, DecodeOutput& output)
{
    AddFormatted(output, "-> Enabled bills: %06X, Escrowed bills: %06X",
        LineNumber(input.line, kFirstData, 3), LineNumber(input.line, kFirstData + 3, 3));
}

void DecodeSecurityRequest(const DecodeInput& input, DecodeOutput& output)
{
    AddFormatted(output, "-> Security settings: %06X", LineNumber(input.line, kFirstData, 3));
}

void DecodeDispenseRequest(const DecodeInput& input, DecodeOutput& output)
{
    // A pair is shown only while more than four groups stand from the
    // current position, so the pair and the two check-code groups behind it
    // are all in this line.
    int groups = LineGroupCount(input.line);
    for (int position = 3; groups - position > 4; position += 2) {
        int type = LineByte(input.line, position + 1);
        int count = LineByte(input.line, position + 2);
        AddFormatted(output, "-> %d bills of Bill Type %d", count, type);
    }
}

void DecodeUnloadRequest(const DecodeInput& input, DecodeOutput& output)
{
    AddFormatted(output, "-> %d bills from Cassette %d", LineByte(input.line, kFirstData + 1), LineByte(input.line, kFirstData));
}

void DecodeBarcodeParametersRequest(const DecodeInput& input, DecodeOutput& output)
{
    AddFormatted(output, "-> Barcode format:%d, Barcode length: %d", LineByte(input.line, kFirstData),
        LineByte(input.line, kFirstData + 1));
}

void DecodeCassetteTypeRequest(const DecodeInput& input, DecodeOutput& output)
{
    int cassette = LineByte(input.line, kFirstData);
    int type = LineByte(input.line, kFirstData + 1) & wire::kBillTypeMask;
    if (type == wire::kEscrowBillType)
        AddFormatted(output, "-> Assign cassette %d to Escrow", cassette);
    else if (type == wire::kUnassignedBillType)
        AddFormatted(output, "-> Assign cassette %d to NONE", cassette);
    else
        AddFormatted(output, "-> Assign cassette %d to bill type %d", cassette, type);
}

void DecodeUserDataRequest(const DecodeInput& input, DecodeOutput& output)
{
    AddFormatted(output, "-> Block length: %d, Offset: %04X", LineByte(input.line, kFirstData),
        LineNumber(input.line, kFirstData + 1, 2));
}

void DecodeCassetteNumberRequest(const DecodeInput& input, DecodeOutput& output)
{
    AddFormatted(output, "-> Cassette %d", LineByte(input.line, kFirstData));
}

void DecodeDiagnosticCassetteRequest(const DecodeInput& input, DecodeOutput& output)
{
    // Offset 4 is the diagnostic sub-command.
    AddFormatted(output, "-> Cassette %d", LineByte(input.line, kFirstData + 1));
}

void DecodeTimeRequest(const DecodeInput& input, DecodeOutput& output)
{
    std::uint8_t bytes[kReplyCapacity];
    int count = 0;
    if (input.record.empty()) {
        int groups = std::min(LineGroupCount(input.line), kReplyCapacity);
        for (; count < groups; ++count)
            bytes[count] = LineByte(input.line, count);
    } else {
        count = CollectFrameBytes(input.record, "->", bytes, kReplyCapacity);
    }
    // Seconds, minutes, hours, day of week (not shown), day, month, year.
    std::string text;
    if (count >= kFirstData + 7
        && FormatCalendarTime(2000 + BcdValue(bytes[10]), BcdValue(bytes[9]), BcdValue(bytes[8]), BcdValue(bytes[6]),
            BcdValue(bytes[5]), BcdValue(bytes[4]), text))
        output.Add("-> Time: " + text);
    else
        output.Add("-> Invalid data");
}

void DecodeOptionsRequest(const DecodeInput& input, DecodeOutput& output)
{
    std::string result = DecodeOptions(input.line, OptionsForm::Request, output);
    // Nothing is lost when the request line is not a frame.
    if (!result.empty())
        output.Add(std::move(result));
}

std::string DecodeOptionsReply(const DecodeInput& input, DecodeOutput& output)
{
    return DecodeOptions(input.line, OptionsForm::Reply, output);
}

} // namespace orvex
