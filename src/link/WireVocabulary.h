#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace orvex {

// Every number with a meaning on the ORVEX bus, named once. Frames carry
// them as plain bytes; code compares and builds with these names.
namespace wire {

// ---- Frame -------------------------------------------------------------

inline constexpr std::uint8_t kSync = 0x02;
// A zero length byte announces the long form: the length stands in bytes
// 3 and 4 (high first) and the body starts at byte 5.
inline constexpr std::uint8_t kLongFormMark = 0x00;
// First body byte of the bare six-byte replies (and of the host's ACK/NAK).
inline constexpr std::uint8_t kAck = 0x00;
inline constexpr std::uint8_t kNak = 0xFF;
inline constexpr std::uint8_t kInvalidCommand = 0x30;

// ---- Bus addresses -----------------------------------------------------

inline constexpr std::uint8_t kCyclorAddress = 1;
inline constexpr std::uint8_t kValidatorAddress = 3;
inline constexpr std::uint8_t kCardReaderAddress = 4;

// ---- Command codes (byte 3 of a command frame) -------------------------

inline constexpr std::uint8_t kReset = 0x30;
inline constexpr std::uint8_t kStatusRequest = 0x31;
inline constexpr std::uint8_t kSetSecurity = 0x32;
inline constexpr std::uint8_t kPoll = 0x33;
inline constexpr std::uint8_t kBillType = 0x34;
inline constexpr std::uint8_t kPack = 0x35;
inline constexpr std::uint8_t kReturn = 0x36;
inline constexpr std::uint8_t kIdentification = 0x37;
inline constexpr std::uint8_t kHold = 0x38;
inline constexpr std::uint8_t kSetBarParameters = 0x39;
inline constexpr std::uint8_t kExtractBarcode = 0x3A;
inline constexpr std::uint8_t kGetCassetteStatus = 0x3B;
inline constexpr std::uint8_t kDispense = 0x3C;
inline constexpr std::uint8_t kUnload = 0x3D;
inline constexpr std::uint8_t kExtendedIdentification = 0x3E;
inline constexpr std::uint8_t kSetCassetteType = 0x40;
inline constexpr std::uint8_t kBillTable = 0x41;
inline constexpr std::uint8_t kGetCassetteFeedingLevel = 0x43;
inline constexpr std::uint8_t kSetCassetteFeedingLevel = 0x44;
inline constexpr std::uint8_t kDownload = 0x50;
inline constexpr std::uint8_t kCrc32 = 0x51;
inline constexpr std::uint8_t kModuleIdentification = 0x53;
inline constexpr std::uint8_t kValidationSoftwareIdentification = 0x54;
inline constexpr std::uint8_t kRequestStatistics = 0x60;
// GET CY TIME without data, SET CY TIME with the seven clock bytes.
inline constexpr std::uint8_t kCyTime = 0x62;
inline constexpr std::uint8_t kPowerRecovery = 0x66;
inline constexpr std::uint8_t kEmptyDispenser = 0x67;
inline constexpr std::uint8_t kSetOptions = 0x68;
inline constexpr std::uint8_t kGetOptions = 0x69;
inline constexpr std::uint8_t kExtendedCassetteStatus = 0x70;
// The sub-command is the first data byte (byte 4).
inline constexpr std::uint8_t kDiagnostic = 0xF0;

// Card reader (address 4).
inline constexpr std::uint8_t kReaderSetup = 0x11;
// The sub-command is the first data byte (byte 4).
inline constexpr std::uint8_t kReaderSession = 0x13;
inline constexpr std::uint8_t kEnableReader = 0x14;
inline constexpr std::uint8_t kReaderIdentification = 0x15;
// The reader knows RESET under the code the others use for STATUS REQUEST.
inline constexpr std::uint8_t kReaderReset = 0x31;
inline constexpr std::uint8_t kReaderPoll = 0x33;

// DIAGNOSTIC sub-commands.
inline constexpr std::uint8_t kDiagnosticStatusRequest = 0x00;
inline constexpr std::uint8_t kDiagnosticIdentificationRequest = 0x01;
inline constexpr std::uint8_t kDiagnosticSupportedFunctions = 0x02;
inline constexpr std::uint8_t kDiagnosticSensorState = 0x10;
inline constexpr std::uint8_t kDiagnosticTestValidator = 0x11;
inline constexpr std::uint8_t kDiagnosticTestCassette = 0x12;
inline constexpr std::uint8_t kDiagnosticTestDispenser = 0x13;
inline constexpr std::uint8_t kDiagnosticTestSwitch = 0x14;
inline constexpr std::uint8_t kDiagnosticTestChassis = 0x15;
inline constexpr std::uint8_t kDiagnosticTestCommunication = 0x16;

// First byte of a DIAGNOSTIC STATUS REQUEST reply: no test has run, a test
// is still running, or else the sub-command of the finished test.
inline constexpr std::uint8_t kDiagnosticReady = 0x00;
inline constexpr std::uint8_t kDiagnosticRunning = 0x1B;

// Card-reader session sub-commands.
inline constexpr std::uint8_t kGetFunds = 0x00;
inline constexpr std::uint8_t kVendRequest = 0x01;
inline constexpr std::uint8_t kVendRequestSecondForm = 0x02;
inline constexpr std::uint8_t kVendCancel = 0x03;
inline constexpr std::uint8_t kEndSession = 0x04;
inline constexpr std::uint8_t kStartSession = 0x10;

// ---- Poll states (byte 3 of a POLL reply) ------------------------------

inline constexpr std::uint8_t kPowerUp = 0x10;
inline constexpr std::uint8_t kPowerUpWithBillInChannel = 0x11;
inline constexpr std::uint8_t kPowerUpWithBillInStacker = 0x12;
inline constexpr std::uint8_t kInitializing = 0x13;
inline constexpr std::uint8_t kIdling = 0x14;
inline constexpr std::uint8_t kAccepting = 0x15;
inline constexpr std::uint8_t kStacking = 0x17;
inline constexpr std::uint8_t kReturning = 0x18;
inline constexpr std::uint8_t kDisabled = 0x19;
inline constexpr std::uint8_t kHolding = 0x1A;
inline constexpr std::uint8_t kBusy = 0x1B;
inline constexpr std::uint8_t kRejecting = 0x1C;
inline constexpr std::uint8_t kDispensing = 0x1D;
inline constexpr std::uint8_t kUnloading = 0x1E;
inline constexpr std::uint8_t kSettingCassetteType = 0x21;
inline constexpr std::uint8_t kDispensed = 0x25;
inline constexpr std::uint8_t kUnloaded = 0x26;
inline constexpr std::uint8_t kInvalidBillNumber = 0x28;
inline constexpr std::uint8_t kCassetteTypeSet = 0x29;
inline constexpr std::uint8_t kFeedingLevelImplementing = 0x2A;
inline constexpr std::uint8_t kFeedingLevelImplemented = 0x2B;
inline constexpr std::uint8_t kBoxFull = 0x41;
inline constexpr std::uint8_t kBoxRemoved = 0x42;
inline constexpr std::uint8_t kJamInAcceptor = 0x43;
inline constexpr std::uint8_t kJamInStacker = 0x44;
inline constexpr std::uint8_t kCheated = 0x45;
inline constexpr std::uint8_t kPaused = 0x46;
inline constexpr std::uint8_t kFailure = 0x47;
inline constexpr std::uint8_t kHeadOutOfPosition = 0x49;
// Bill events: the sub-state is the bill type.
inline constexpr std::uint8_t kEscrowPosition = 0x80;
inline constexpr std::uint8_t kBillStacked = 0x81;
inline constexpr std::uint8_t kBillReturned = 0x82;
// Bill events run from 0x80 to 0x8F, the low four bits a bill type.
inline constexpr std::uint8_t kLastBillEvent = 0x8F;
inline constexpr std::uint8_t kBillEventTypeMask = 0x0F;
// States the host waits on that have no text of their own.
inline constexpr std::uint8_t kState1F = 0x1F;
inline constexpr std::uint8_t kState20 = 0x20;
inline constexpr std::uint8_t kState22 = 0x22;
inline constexpr std::uint8_t kState27 = 0x27;
inline constexpr std::uint8_t kState48 = 0x48;
// A unit that echoes the POLL code in byte 3 is not answering as a unit.
inline constexpr std::uint8_t kPollEcho = kPoll;

// Sub-states of DISPENSING.
inline constexpr std::uint8_t kMovingBills = 0x00;
inline constexpr std::uint8_t kWaitingForRemoval = 0x01;
// The stacked-bill sub-state that carries a barcode coupon.
inline constexpr std::uint8_t kBarcodeCoupon = 23;

// Sub-states of REJECTING.
inline constexpr std::uint8_t kInsertionError = 0x60;
inline constexpr std::uint8_t kMagneticCheckFailed = 0x61;
inline constexpr std::uint8_t kBillInValidator = 0x62;
inline constexpr std::uint8_t kMultiplyingError = 0x63;
inline constexpr std::uint8_t kConveying = 0x64;
inline constexpr std::uint8_t kIdentificationError = 0x65;
inline constexpr std::uint8_t kVerificationError = 0x66;
inline constexpr std::uint8_t kOpticalError = 0x67;
inline constexpr std::uint8_t kDenominationInhibited = 0x68;
inline constexpr std::uint8_t kCapacityError = 0x69;
inline constexpr std::uint8_t kOperationError = 0x6A;
inline constexpr std::uint8_t kInvalidBillLength = 0x6C;
inline constexpr std::uint8_t kUvError = 0x6D;
inline constexpr std::uint8_t kUnrecognizedBarcode = 0x92;
inline constexpr std::uint8_t kInvalidBarcodeLength = 0x93;
inline constexpr std::uint8_t kInvalidBarcodeStart = 0x94;
inline constexpr std::uint8_t kInvalidBarcodeStop = 0x95;

// Sub-states of FAILURE.
inline constexpr std::uint8_t kStackerMotorFailure = 0x50;
inline constexpr std::uint8_t kTransportMotorSpeed = 0x51;
inline constexpr std::uint8_t kTransportMotorFailure = 0x52;
inline constexpr std::uint8_t kAligningMotorFailure = 0x53;
inline constexpr std::uint8_t kInitialCassetteStatusFailure = 0x54;
inline constexpr std::uint8_t kOpticalSensorsFailure = 0x65;
inline constexpr std::uint8_t kMagneticSensorsFailure = 0x66;
inline constexpr std::uint8_t kCapacitySensorFailure = 0x67;

// ---- Card-reader poll states (byte 3 of a POLL CR reply) ---------------

inline constexpr std::uint8_t kReaderInactive = 0x01;
inline constexpr std::uint8_t kReaderEnabled = 0x05;
inline constexpr std::uint8_t kReaderState06 = 0x06;
// A session is open: funds can be asked for and vends made.
inline constexpr std::uint8_t kReaderReadyForVend = 0x07;
inline constexpr std::uint8_t kReaderSetUp = 0x09;
inline constexpr std::uint8_t kReaderPowerUp = 0x10;
inline constexpr std::uint8_t kReaderBusy = 0x11;
inline constexpr std::uint8_t kReaderPowerUpLast = 0x13;
// After VEND/CANCEL: the cancel has been carried out.
inline constexpr std::uint8_t kReaderIdle = 0x14;
inline constexpr std::uint8_t kReaderState16 = 0x16;
// The first byte of a GET FUNDS reply: 0xE0 + the number of entries.
inline constexpr std::uint8_t kFundsTableMark = 0xE0;
inline constexpr std::uint8_t kLastFundsTableMark = 0xE7;

// ---- POWER RECOVERY record kinds (byte 3 of its reply) -----------------

inline constexpr std::uint8_t kNoPowerCut = 0x00;
inline constexpr std::uint8_t kCutWhilePacking = kStacking;
inline constexpr std::uint8_t kCutWhileDispensing = kDispense;
inline constexpr std::uint8_t kCutWhileUnloading = kUnload;

// ---- Data bytes --------------------------------------------------------

// Cassette type bytes (GET CASSETTE STATUS, records): bit 7 present, bit 6
// full, low five bits the bill type (24 escrow, 31 unassigned).
inline constexpr std::uint8_t kCassettePresent = 0x80;
inline constexpr std::uint8_t kCassetteFull = 0x40;
inline constexpr std::uint8_t kBillTypeMask = 0x1F;
// Bill types with a meaning of their own in a cassette type byte.
inline constexpr std::uint8_t kEscrowBillType = 24;
inline constexpr std::uint8_t kUnassignedBillType = 31;
// Bill table exponent byte: bit 7 divides, bits 0-6 count the steps.
inline constexpr std::uint8_t kExponentDivides = 0x80;
inline constexpr std::uint8_t kExponentSteps = 0x7F;
// SET CASSETTE FEEDING LEVEL: the unit's default level.
inline constexpr std::uint8_t kDefaultFeedingLevel = 0xFF;
// POWER RECOVERY after a cut while dispensing: bit 7 of a pair's type byte
// marks a pair of the DISPENSE command (clear: bills in the dispenser).
inline constexpr std::uint8_t kRequestedPair = 0x80;
// DISPENSE by pairs: a count left out.
inline constexpr std::uint8_t kNoCount = 0xFF;

// The value of a bill table entry: the digit multiplied (bit 7 of the
// exponent clear) or divided (set) by ten, bits 0-6 times, one step at a
// time in single precision as the unit does.
float BillValue(std::uint8_t digit, std::uint8_t exponent);

// ---- Log names ---------------------------------------------------------

// Whether a row needs the frame to carry data after the code (and the
// sub-command, where the row has one).
enum class CommandData : std::uint8_t { Any, None, Some };

inline constexpr int kNoSubCommand = -1;
// The address column where the caller chooses the address.
inline constexpr std::uint8_t kAnyAddress = 0;

// One row per command the exchange log names: the command code, the
// address the command set sends it to (kAnyAddress where the caller
// chooses), the sub-command in byte 4 where one selects the command, and
// the data rule.
struct CommandName {
    std::uint8_t code;
    std::uint8_t address;
    int subCommand;
    CommandData data;
    std::string_view logName;
};

// Every row, in the order of the command set.
std::span<const CommandName> CommandNames();

// The log name of a command frame (short or long form), empty when the
// frame is too short or names no known command (the card-reader set-up has
// no log name). Frames to the card reader's address are named from its rows
// first. SET CY TIME and GET CY TIME share a code and are told apart by the
// data the frame carries. The check code is not judged here (JudgeFrame).
// A DIAGNOSTIC with a sub-command that has a row of its own takes that
// row's name, even when the host sent it as a plain DIAGNOSTIC.
std::string_view CommandLogName(std::span<const std::uint8_t> frame);

// The name of a poll state as people read it ("IDLING"). States whose log
// line goes on with the sub-state ("REJECTING: ...") are named without it;
// empty for states that have no name.
std::string_view PollStateName(std::uint8_t state);

} // namespace wire

} // namespace orvex
