#include "decode/Decoders.h"
#include "decode/FrameBytes.h"

#include <cstdio>

namespace orvex {

namespace {

// Group indexes of the poll reply after the direction mark.
constexpr int kStatusGroup = 3;
constexpr int kSecondGroup = 4;
constexpr int kThirdGroup = 5;

constexpr std::string_view kStars = "**************";

struct CodeText {
    std::uint8_t code;
    const char* text;
};

constexpr CodeText kStates[] = {
    { 0x10, "<- POWER UP" },
    { 0x11, "<- POWER UP WITH BILL IN CHANNEL" },
    { 0x12, "<- POWER UP WITH BILL IN STACKER" },
    { 0x13, "<- INITIALIZING" },
    { 0x14, "<- IDLING" },
    { 0x15, "<- ACCEPTING" },
    { 0x17, "<- STACKING" },
    { 0x18, "<- RETURNING" },
    { 0x19, "<- DISABLED" },
    { 0x1A, "<- HOLDING" },
    { 0x1B, "<- BUSY" },
    { 0x21, "<- SETTING CASSETTE TYPE" },
    { 0x25, "<- DISPENSED" },
    { 0x28, "<- INVALID BILL NUMBER" },
    { 0x29, "<- CASSETTE TYPE IS SET" },
    { 0x2A, "<- FEEDING LEVEL IMPLEMENTING" },
    { 0x41, "<- BOX FULL" },
    { 0x42, "<- BOX REMOVED" },
    { 0x43, "<- JAM IN ACCEPTOR" },
    { 0x44, "<- JAM IN STACKER" },
    { 0x45, "<- CHEATED" },
    { 0x46, "<- PAUSED" },
    { 0x49, "<- VALIDATING HEAD OUT OF POSITION" },
};

constexpr CodeText kRejectionReasons[] = {
    { 0x60, ": Insertion error" },
    { 0x61, ": Magnetic check failed" },
    { 0x62, ": Bill in the Validator" },
    { 0x63, ": Multiplying error" },
    { 0x64, ": Conveying" },
    { 0x65, ": Identification error" },
    { 0x66, ": Verification error" },
    { 0x67, ": Optical error" },
    { 0x68, ": Denomination inhibited" },
    { 0x69, ": Capacity error" },
    { 0x6A, ": Operation error" },
    { 0x6C, ": Invalid bill length" },
    { 0x6D, ": UV error" },
    { 0x92, ": Unrecognized barcode" },
    { 0x93, ": Invalid barcode length" },
    { 0x94, ": Invalid barcode start sequence" },
    { 0x95, ": Invalid barcode stop sequence" },
};

constexpr CodeText kFailures[] = {
    { 0x50, ": Stacker motor failure" },
    { 0x51, ": Invalid transport motor speed" },
    { 0x52, ": Transport motor failure" },
    { 0x53, ": Aligning motor failure" },
    { 0x54, ": Initial cassette status failure" },
    { 0x65, ": Optical sensors failure" },
    { 0x66, ": Magnetic sensors failure" },
    { 0x67, ": Capacity sensor failure" },
};

template <std::size_t N>
const char* Find(const CodeText (&table)[N], std::uint8_t code)
{
    for (const CodeText& entry : table) {
        if (entry.code == code)
            return entry.text;
    }
    return nullptr;
}

std::string WithNumber(std::string_view start, const char* format, unsigned value)
{
    char number[32];
    int length = std::snprintf(number, sizeof number, format, value);
    std::string line;
    line.reserve(start.size() + static_cast<std::size_t>(length));
    line.append(start);
    line.append(number, static_cast<std::size_t>(length));
    return line;
}

std::string BillEvent(const DecodeContext& context, int billType, std::string_view ending)
{
    std::string line;
    line.reserve(64);
    line.append("<- ").append(kStars).append("    ");
    line.append(BillText(context, billType));
    line.append(ending);
    return line;
}

} // namespace

std::string BillText(const DecodeContext& context, int billType)
{
    char text[64];
    if (billType >= 0 && billType < kBillTypes && context.billTable[static_cast<std::size_t>(billType)].value != 0.0f) {
        const BillTypeEntry& entry = context.billTable[static_cast<std::size_t>(billType)];
        std::snprintf(text, sizeof text, "%g %s ", static_cast<double>(entry.value), entry.country.c_str());
    } else {
        std::snprintf(text, sizeof text, "Bill type %d ", billType);
    }
    return text;
}

std::string DecodePoll(const DecodeInput& input, DecodeOutput& output)
{
    std::string_view line = input.line;
    if (!HasByteGroup(line))
        return std::string(line);

    std::uint8_t status = LineByte(line, kStatusGroup);
    if (const char* text = Find(kStates, status))
        return text;

    std::uint8_t second = LineByte(line, kSecondGroup);
    switch (status) {
    case 0x1C: {
        if (const char* reason = Find(kRejectionReasons, second))
            return std::string("<- REJECTING").append(reason);
        return WithNumber("<- REJECTING: Unknown reason (", "%X)", second);
    }
    case 0x1D:
        if (second == 0)
            return "<- DISPENSING: Moving bills to dispenser";
        if (second == 1)
            return "<- DISPENSING: Waiting for bills to be removed";
        return "<- DISPENSING: Unknown action";
    case 0x1E:
        return second != 0 ? "<- UNLOADING: Not enough bills to complete request" : "<- UNLOADING";
    case 0x26:
        return WithNumber("<- UNLOADED", " %u bills", second);
    case 0x2B:
        return WithNumber("<- FEEDING LEVEL IMPLEMENTED to", " %u bills", second);
    case 0x47: {
        if (const char* failure = Find(kFailures, second))
            return std::string("<- FAILURE").append(failure);
        char text[48];
        std::snprintf(text, sizeof text, "<- FAILURE: %X:%X", static_cast<unsigned>(second),
            static_cast<unsigned>(LineByte(line, kThirdGroup)));
        return text;
    }
    case 0x80: {
        std::string event = BillEvent(input.context, second, "in Escrow position     **************");
        output.SetStatus(event);
        return event;
    }
    case 0x82: {
        std::string event = BillEvent(input.context, second, "returned     **************");
        output.SetStatus(event);
        return event;
    }
    case 0x81: {
        std::string event = BillEvent(input.context, second, "packed");
        if (input.context.deviceChoice == kDeviceChoiceCyclor) {
            std::uint8_t destination = LineByte(line, kThirdGroup);
            switch (destination) {
            case 0:
                event.append(" into drop box     **************");
                break;
            case 1:
            case 2:
            case 3:
                event.append(" into cassette ").push_back(static_cast<char>('0' + destination));
                event.append("     **************");
                break;
            default:
                // The destination's digits as they stand in the line.
                event.append(" into unknown location ");
                event.append(line.substr(std::min(line.size(), std::size_t { 3 + 3 * kThirdGroup }), 2));
                event.append("    **************");
                break;
            }
        } else {
            event.append("    **************");
        }
        output.SetStatus(event);
        return event;
    }
    default:
        break;
    }
    // No text of its own: the status byte and the two bytes after it.
    std::string_view text = line.substr(3);
    return std::string(text.substr(std::min(text.size(), std::size_t { 9 }), 9));
}

} // namespace orvex
