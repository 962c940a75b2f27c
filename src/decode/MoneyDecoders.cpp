#include "decode/Decoders.h"
#include "decode/FrameBytes.h"
#include "link/WireVocabulary.h"

#include <cstdio>

namespace orvex {

namespace {

constexpr CommonStartRule kWholeStart { ShortReply::Acknowledge, InvalidCommandCheck::Run, ByteSource::Record };
constexpr CommonStartRule kOwnShortRules { ShortReply::Decode, InvalidCommandCheck::Run, ByteSource::Record };

// A reply can describe at most 24 bill types and 16 cassettes; more records
// would be bytes the device does not have.
constexpr int kMaximumBillRecords = kBillTypes;
constexpr int kMaximumCassetteRecords = 16;

template <typename... Values>
void AddFormatted(DecodeOutput& output, const char* format, Values... values)
{
    char text[160];
    std::snprintf(text, sizeof text, format, values...);
    output.Add(text);
}

void AddStackedBill(const DecodeContext& context, int billType, int destination, DecodeOutput& output)
{
    std::string line = "<- **************    ";
    line.append(BillText(context, billType));
    line.append("packed");
    switch (destination) {
    case 0:
        line.append(" into drop box     **************");
        break;
    case 1:
    case 2:
    case 3:
        line.append(" into cassette ").push_back(static_cast<char>('0' + destination));
        line.append("     **************");
        break;
    default:
        line.append(" into unknown location     **************");
        break;
    }
    output.Add(std::move(line));
}

} // namespace

std::string DecodeBillTable(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kWholeStart, bytes, result))
        return result;
    int length = bytes.Raw(2);
    for (int record = 0; record < kMaximumBillRecords && 3 + 5 * record < length - 2; ++record) {
        int offset = 3 + 5 * record;
        // As the device's table is read into the bill table.
        float value = wire::BillValue(bytes.Byte(offset), bytes.Byte(offset + 4));
        std::string country(bytes.Text(offset + 1, 3));
        AddFormatted(output, "<-  Bill Type:%3u:       %g  %s", static_cast<unsigned>(record), static_cast<double>(value),
            country.c_str());
    }
    return {};
}

std::string DecodeCassetteStatus(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kWholeStart, bytes, result))
        return result;
    int length = bytes.Raw(2);
    for (int record = 0; record < kMaximumCassetteRecords && 3 + 2 * record < length - 2; ++record) {
        std::uint8_t first = bytes.Byte(3 + 2 * record);
        int type = first & wire::kBillTypeMask;
        const char* status = "OK";
        if (!(first & wire::kCassettePresent))
            status = "NU";
        else if (type == wire::kUnassignedBillType)
            status = "NA";
        else if (first & wire::kCassetteFull)
            status = "FULL";
        std::string text = type == wire::kEscrowBillType ? std::string("ESCR: ") + status : std::string(status);
        AddFormatted(output, "<- Cassette: %2d,  Bill Type: %2d,  Number: %3d,  Status:%s", record + 1, type,
            bytes.Byte(4 + 2 * record), text.c_str());
    }
    return {};
}

std::string DecodeExtendedCassetteStatus(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kOwnShortRules, bytes, result))
        return result;
    int length = bytes.Raw(2);
    int count = bytes.Byte(3);
    // The bill types stand at offsets 4 to 3 + N, before the two check-code
    // bytes; a count the data cannot hold is not shown.
    if (count > length - 6)
        return {};
    AddFormatted(output, "<-  Number of bills: %d", count);
    std::string line;
    for (int bill = 0; bill < count; ++bill) {
        if (bill % 4 == 0) {
            if (bill != 0)
                output.Add(std::move(line));
            line = "<- ";
        }
        char text[24];
        std::snprintf(text, sizeof text, "Bill type %d ", bytes.Byte(4 + bill));
        line.append(text);
    }
    if (count > 0)
        output.Add(std::move(line));
    return {};
}

std::string DecodePowerRecovery(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kOwnShortRules, bytes, result))
        return result;
    int length = bytes.Raw(2);
    switch (bytes.Byte(3)) {
    case wire::kNoPowerCut:
        output.Add("<- ACK (No power interruptions detected)");
        break;
    case wire::kCutWhilePacking:
        output.Add("<- POWER CUT WHILE PACKING was detected. Credit messages:");
        if (length >= 7) {
            for (int index = 0; index < length - 6; index += 2)
                AddStackedBill(input.context, bytes.Byte(4 + index) & wire::kBillTypeMask, bytes.Byte(5 + index), output);
        }
        break;
    case wire::kCutWhileDispensing:
        output.Add("<- POWER CUT WHILE DISPENSING was detected");
        output.Add("<-   Command: DISPENSE ");
        if (length == 6) {
            output.Add("<- Dispenser is empty");
            break;
        }
        for (int index = 0; index < length - 6; index += 2) {
            if (bytes.Byte(4 + index) & wire::kRequestedPair)
                AddFormatted(output, "<-   %d bills of %d bill type", bytes.Byte(5 + index), bytes.Byte(4 + index) & wire::kBillTypeMask);
        }
        output.Add("<- Dispenser state:");
        for (int index = 0; index < length - 6; index += 2) {
            if (!(bytes.Byte(4 + index) & wire::kRequestedPair))
                AddFormatted(output, "<-   %d bills of %d bill type", bytes.Byte(5 + index), bytes.Byte(4 + index) & wire::kBillTypeMask);
        }
        break;
    case wire::kCutWhileUnloading:
        output.Add("<- POWER CUT WHILE UNLOADING was detected");
        AddFormatted(output, "<-   Command: UNLOAD %d bills from Cassette %d", bytes.Byte(5), bytes.Byte(4));
        output.Add("<-   Actually unloaded:");
        for (int index = 0; 6 + index < bytes.Count() - 2; index += 2)
            AddFormatted(output, "<-   %d bills of bill type %d", bytes.Byte(7 + index), bytes.Byte(6 + index) & wire::kBillTypeMask);
        break;
    default:
        break;
    }
    return {};
}

} // namespace orvex
