#include "link/WireVocabulary.h"

#include <algorithm>
#include <iterator>

namespace orvex::wire {

namespace {

constexpr CommandName kCommandNames[] = {
    { kReset, kAnyAddress, kNoSubCommand, CommandData::Any, "RESET" },
    { kStatusRequest, kAnyAddress, kNoSubCommand, CommandData::Any, "STATUS REQUEST" },
    { kSetSecurity, kAnyAddress, kNoSubCommand, CommandData::Any, "SET SECURITY" },
    { kPoll, kAnyAddress, kNoSubCommand, CommandData::Any, "POLL" },
    { kBillType, kAnyAddress, kNoSubCommand, CommandData::Any, "BILL TYPE" },
    { kPack, kAnyAddress, kNoSubCommand, CommandData::Any, "PACK" },
    { kReturn, kAnyAddress, kNoSubCommand, CommandData::Any, "RETURN" },
    { kIdentification, kAnyAddress, kNoSubCommand, CommandData::Any, "IDENTIFICATION" },
    { kHold, kAnyAddress, kNoSubCommand, CommandData::Any, "HOLD" },
    { kSetBarParameters, kAnyAddress, kNoSubCommand, CommandData::Any, "SET BAR PARAMETERS" },
    { kExtractBarcode, kAnyAddress, kNoSubCommand, CommandData::Any, "EXTRACT BARCODE" },
    { kGetCassetteStatus, kCyclorAddress, kNoSubCommand, CommandData::Any, "GET CASSETTE STATUS" },
    { kDispense, kCyclorAddress, kNoSubCommand, CommandData::Any, "DISPENSE" },
    { kUnload, kCyclorAddress, kNoSubCommand, CommandData::Any, "UNLOAD" },
    { kExtendedIdentification, kAnyAddress, kNoSubCommand, CommandData::Any, "EXTENDED IDENTIFICATION" },
    { kSetCassetteType, kCyclorAddress, kNoSubCommand, CommandData::Any, "SET CASSETTE TYPE" },
    { kBillTable, kAnyAddress, kNoSubCommand, CommandData::Any, "BILL TABLE" },
    { kGetCassetteFeedingLevel, kCyclorAddress, kNoSubCommand, CommandData::Any, "GET CASSETTE FEEDING LEVEL" },
    { kSetCassetteFeedingLevel, kCyclorAddress, kNoSubCommand, CommandData::Any, "SET CASSETTE FEEDING LEVEL" },
    { kDownload, kAnyAddress, kNoSubCommand, CommandData::Any, "DOWNLOAD" },
    { kCrc32, kAnyAddress, kNoSubCommand, CommandData::Any, "CRC32" },
    { kModuleIdentification, kAnyAddress, kNoSubCommand, CommandData::Any, "MODULE IDENTIFICATION" },
    { kValidationSoftwareIdentification, kAnyAddress, kNoSubCommand, CommandData::Any, "VALIDATION SOFTWARE IDENTIFICATION" },
    { kRequestStatistics, kAnyAddress, kNoSubCommand, CommandData::Any, "REQUEST STATISTICS" },
    { kCyTime, kCyclorAddress, kNoSubCommand, CommandData::None, "GET CY TIME" },
    { kCyTime, kCyclorAddress, kNoSubCommand, CommandData::Some, "SET CY TIME" },
    { kPowerRecovery, kCyclorAddress, kNoSubCommand, CommandData::Any, "POWER RECOVERY" },
    { kEmptyDispenser, kCyclorAddress, kNoSubCommand, CommandData::Any, "EMPTY DISPENSER" },
    { kSetOptions, kAnyAddress, kNoSubCommand, CommandData::Any, "SET OPTIONS" },
    { kGetOptions, kAnyAddress, kNoSubCommand, CommandData::Any, "GET OPTIONS" },
    { kExtendedCassetteStatus, kCyclorAddress, kNoSubCommand, CommandData::Any, "EXTENDED CASSETTE STATUS REQUEST" },
    { kDiagnostic, kAnyAddress, kDiagnosticStatusRequest, CommandData::Any, "DIAGNOSTIC STATUS REQUEST" },
    { kDiagnostic, kAnyAddress, kDiagnosticIdentificationRequest, CommandData::Any, "DIAGNOSTIC IDENTIFICATION REQUEST" },
    { kDiagnostic, kAnyAddress, kDiagnosticSupportedFunctions, CommandData::Any, "DIAGNOSTIC SUPPORTED FUNCTIONS" },
    { kDiagnostic, kAnyAddress, kDiagnosticSensorState, CommandData::Any, "DIAGNOSTIC SENSOR STATE" },
    { kDiagnostic, kAnyAddress, kDiagnosticTestValidator, CommandData::Any, "DIAGNOSTIC TEST VALIDATOR" },
    { kDiagnostic, kAnyAddress, kDiagnosticTestCassette, CommandData::Any, "DIAGNOSTIC TEST CASSETTE" },
    { kDiagnostic, kAnyAddress, kDiagnosticTestDispenser, CommandData::Any, "DIAGNOSTIC TEST DISPENSER" },
    { kDiagnostic, kAnyAddress, kDiagnosticTestSwitch, CommandData::Any, "DIAGNOSTIC TEST SWITCH" },
    { kDiagnostic, kAnyAddress, kDiagnosticTestChassis, CommandData::Any, "DIAGNOSTIC TEST CHASSIS" },
    { kDiagnostic, kAnyAddress, kDiagnosticTestCommunication, CommandData::Any, "DIAGNOSTIC TEST COMMUNICATION" },
    // Any other sub-command, or none.
    { kDiagnostic, kAnyAddress, kNoSubCommand, CommandData::Any, "DIAGNOSTIC" },
    { kReaderReset, kCardReaderAddress, kNoSubCommand, CommandData::Any, "RESET" },
    { kReaderSession, kCardReaderAddress, kGetFunds, CommandData::Any, "GET FUNDS" },
    { kReaderSession, kCardReaderAddress, kVendRequest, CommandData::Any, "VEND/REQUEST" },
    { kReaderSession, kCardReaderAddress, kVendRequestSecondForm, CommandData::Any, "VEND/REQUEST" },
    { kReaderSession, kCardReaderAddress, kVendCancel, CommandData::Any, "VEND/CANCEL" },
    { kReaderSession, kCardReaderAddress, kEndSession, CommandData::Any, "END SESSION" },
    { kReaderSession, kCardReaderAddress, kStartSession, CommandData::Any, "START SESSION" },
    { kEnableReader, kCardReaderAddress, kNoSubCommand, CommandData::Any, "ENABLE CR" },
    { kReaderIdentification, kCardReaderAddress, kNoSubCommand, CommandData::Any, "CR IDENTIFICATION" },
    { kReaderPoll, kCardReaderAddress, kNoSubCommand, CommandData::Any, "POLL CR" },
};

struct StateName {
    std::uint8_t state;
    std::string_view name;
};

constexpr StateName kStateNames[] = {
    { kPowerUp, "POWER UP" },
    { kPowerUpWithBillInChannel, "POWER UP WITH BILL IN CHANNEL" },
    { kPowerUpWithBillInStacker, "POWER UP WITH BILL IN STACKER" },
    { kInitializing, "INITIALIZING" },
    { kIdling, "IDLING" },
    { kAccepting, "ACCEPTING" },
    { kStacking, "STACKING" },
    { kReturning, "RETURNING" },
    { kDisabled, "DISABLED" },
    { kHolding, "HOLDING" },
    { kBusy, "BUSY" },
    { kRejecting, "REJECTING" },
    { kDispensing, "DISPENSING" },
    { kUnloading, "UNLOADING" },
    { kSettingCassetteType, "SETTING CASSETTE TYPE" },
    { kDispensed, "DISPENSED" },
    { kUnloaded, "UNLOADED" },
    { kInvalidBillNumber, "INVALID BILL NUMBER" },
    { kCassetteTypeSet, "CASSETTE TYPE IS SET" },
    { kFeedingLevelImplementing, "FEEDING LEVEL IMPLEMENTING" },
    { kFeedingLevelImplemented, "FEEDING LEVEL IMPLEMENTED" },
    { kBoxFull, "BOX FULL" },
    { kBoxRemoved, "BOX REMOVED" },
    { kJamInAcceptor, "JAM IN ACCEPTOR" },
    { kJamInStacker, "JAM IN STACKER" },
    { kCheated, "CHEATED" },
    { kPaused, "PAUSED" },
    { kFailure, "FAILURE" },
    { kHeadOutOfPosition, "VALIDATING HEAD OUT OF POSITION" },
    { kEscrowPosition, "ESCROW" },
    { kBillStacked, "STACKED" },
    { kBillReturned, "RETURNED" },
};

// Offset of the first body byte (the command code) and the body's end
// (before the check code), from the header; false when the frame is too
// short to hold a code.
bool FindBody(std::span<const std::uint8_t> frame, std::size_t& start, std::size_t& end)
{
    if (frame.size() < 4)
        return false;
    std::size_t length = frame[2];
    start = 3;
    if (frame[2] == kLongFormMark) {
        if (frame.size() < 6)
            return false;
        length = static_cast<std::size_t>(frame[3]) << 8 | frame[4];
        start = 5;
    }
    // A frame cut short (or a length that lies) is named from what is there.
    end = std::min(frame.size(), length >= 2 ? length - 2 : 0);
    end = std::max(end, start + 1);
    return start < frame.size();
}

bool Matches(const CommandName& row, std::span<const std::uint8_t> frame, std::size_t start, std::size_t end)
{
    if (row.code != frame[start])
        return false;
    std::size_t dataStart = start + 1;
    if (row.subCommand != kNoSubCommand) {
        if (dataStart >= end || dataStart >= frame.size() || frame[dataStart] != row.subCommand)
            return false;
        ++dataStart;
    }
    bool hasData = dataStart < end;
    switch (row.data) {
    case CommandData::None: return !hasData;
    case CommandData::Some: return hasData;
    case CommandData::Any: return true;
    }
    return false;
}

} // namespace

float BillValue(std::uint8_t digit, std::uint8_t exponent)
{
    float value = digit;
    int steps = exponent & kExponentSteps;
    for (int i = 0; i < steps; ++i)
        value = (exponent & kExponentDivides) ? value / 10.0f : value * 10.0f;
    return value;
}

std::span<const CommandName> CommandNames()
{
    return kCommandNames;
}

std::string_view CommandLogName(std::span<const std::uint8_t> frame)
{
    std::size_t start = 0;
    std::size_t end = 0;
    if (!FindBody(frame, start, end))
        return {};
    bool reader = frame[1] == kCardReaderAddress;
    if (reader) {
        for (const CommandName& row : kCommandNames) {
            if (row.address == kCardReaderAddress && Matches(row, frame, start, end))
                return row.logName;
        }
    }
    for (const CommandName& row : kCommandNames) {
        if (row.address != kCardReaderAddress && Matches(row, frame, start, end))
            return row.logName;
    }
    return {};
}

std::string_view PollStateName(std::uint8_t state)
{
    auto found = std::find_if(std::begin(kStateNames), std::end(kStateNames),
        [state](const StateName& entry) { return entry.state == state; });
    return found == std::end(kStateNames) ? std::string_view() : found->name;
}

} // namespace orvex::wire
