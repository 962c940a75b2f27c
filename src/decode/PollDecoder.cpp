#include "decode/Decoders.h"
#include "decode/FrameBytes.h"
#include "link/WireVocabulary.h"

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

constexpr CodeText kRejectionReasons[] = {
    { wire::kInsertionError, ": Insertion error" },
    { wire::kMagneticCheckFailed, ": Magnetic check failed" },
    { wire::kBillInValidator, ": Bill in the Validator" },
    { wire::kMultiplyingError, ": Multiplying error" },
    { wire::kConveying, ": Conveying" },
    { wire::kIdentificationError, ": Identification error" },
    { wire::kVerificationError, ": Verification error" },
    { wire::kOpticalError, ": Optical error" },
    { wire::kDenominationInhibited, ": Denomination inhibited" },
    { wire::kCapacityError, ": Capacity error" },
    { wire::kOperationError, ": Operation error" },
    { wire::kInvalidBillLength, ": Invalid bill length" },
    { wire::kUvError, ": UV error" },
    { wire::kUnrecognizedBarcode, ": Unrecognized barcode" },
    { wire::kInvalidBarcodeLength, ": Invalid barcode length" },
    { wire::kInvalidBarcodeStart, ": Invalid barcode start sequence" },
    { wire::kInvalidBarcodeStop, ": Invalid barcode stop sequence" },
};

constexpr CodeText kFailures[] = {
    { wire::kStackerMotorFailure, ": Stacker motor failure" },
    { wire::kTransportMotorSpeed, ": Invalid transport motor speed" },
    { wire::kTransportMotorFailure, ": Transport motor failure" },
    { wire::kAligningMotorFailure, ": Aligning motor failure" },
    { wire::kInitialCassetteStatusFailure, ": Initial cassette status failure" },
    { wire::kOpticalSensorsFailure, ": Optical sensors failure" },
    { wire::kMagneticSensorsFailure, ": Magnetic sensors failure" },
    { wire::kCapacitySensorFailure, ": Capacity sensor failure" },
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
    std::uint8_t second = LineByte(line, kSecondGroup);
    switch (status) {
    case wire::kRejecting: {
        if (const char* reason = Find(kRejectionReasons, second))
            return std::string("<- REJECTING").append(reason);
        return WithNumber("<- REJECTING: Unknown reason (", "%X)", second);
    }
    case wire::kDispensing:
        if (second == wire::kMovingBills)
            return "<- DISPENSING: Moving bills to dispenser";
        if (second == wire::kWaitingForRemoval)
            return "<- DISPENSING: Waiting for bills to be removed";
        return "<- DISPENSING: Unknown action";
    case wire::kUnloading:
        return second != 0 ? "<- UNLOADING: Not enough bills to complete request" : "<- UNLOADING";
    case wire::kUnloaded:
        return WithNumber("<- UNLOADED", " %u bills", second);
    case wire::kFeedingLevelImplemented:
        return WithNumber("<- FEEDING LEVEL IMPLEMENTED to", " %u bills", second);
    case wire::kFailure: {
        if (const char* failure = Find(kFailures, second))
            return std::string("<- FAILURE").append(failure);
        char text[48];
        std::snprintf(text, sizeof text, "<- FAILURE: %X:%X", static_cast<unsigned>(second),
            static_cast<unsigned>(LineByte(line, kThirdGroup)));
        return text;
    }
    case wire::kEscrowPosition: {
        std::string event = BillEvent(input.context, second, "in Escrow position     **************");
        output.SetStatus(event);
        return event;
    }
    case wire::kBillReturned: {
        std::string event = BillEvent(input.context, second, "returned     **************");
        output.SetStatus(event);
        return event;
    }
    case wire::kBillStacked: {
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
    std::string_view name = wire::PollStateName(status);
    if (!name.empty())
        return std::string("<- ").append(name);
    // No text of its own: the status byte and the two bytes after it.
    std::string_view text = line.substr(3);
    return std::string(text.substr(std::min(text.size(), std::size_t { 9 }), 9));
}

} // namespace orvex
