#pragma once

#include "decode/DecodeContext.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvex {

// Every decoder reads only the line or record it is given and writes only
// to its output; see DecodeContext.h for the calling conventions.

// Poll status.
std::string DecodePoll(const DecodeInput& input, DecodeOutput& output);
// "%g %s " from the bill table, "Bill type %d " without an entry.
std::string BillText(const DecodeContext& context, int billType);

// Acknowledgement-only replies, and the DIAGNOSTIC pass-through.
std::string DecodeAcknowledgementReply(const DecodeInput& input, DecodeOutput& output);
std::string DecodeRawReply(const DecodeInput& input, DecodeOutput& output);

// Request side.
void DecodeBillTypeRequest(const DecodeInput& input, DecodeOutput& output);
void DecodeSecurityRequest(const DecodeInput& input, DecodeOutput& output);
void DecodeDispenseRequest(const DecodeInput& input, DecodeOutput& output);
void DecodeUnloadRequest(const DecodeInput& input, DecodeOutput& output);
void DecodeBarcodeParametersRequest(const DecodeInput& input, DecodeOutput& output);
void DecodeCassetteTypeRequest(const DecodeInput& input, DecodeOutput& output);
void DecodeUserDataRequest(const DecodeInput& input, DecodeOutput& output);
void DecodeCassetteNumberRequest(const DecodeInput& input, DecodeOutput& output);
void DecodeDiagnosticCassetteRequest(const DecodeInput& input, DecodeOutput& output);
void DecodeTimeRequest(const DecodeInput& input, DecodeOutput& output);
void DecodeOptionsRequest(const DecodeInput& input, DecodeOutput& output);
void DecodeRawRequest(const DecodeInput& input, DecodeOutput& output);
std::string DecodeOptionsReply(const DecodeInput& input, DecodeOutput& output);

// Identification and settings.
std::string DecodeIdentification(const DecodeInput& input, DecodeOutput& output);
std::string DecodeModuleIdentification(const DecodeInput& input, DecodeOutput& output);
std::string DecodeValidationSoftwareIdentification(const DecodeInput& input, DecodeOutput& output);
std::string DecodeCrc32(const DecodeInput& input, DecodeOutput& output);
std::string DecodeStatus(const DecodeInput& input, DecodeOutput& output);
std::string DecodeTime(const DecodeInput& input, DecodeOutput& output);
std::string DecodeBarcode(const DecodeInput& input, DecodeOutput& output);
std::string DecodeUserData(const DecodeInput& input, DecodeOutput& output);

// Bill table, cassettes, power recovery.
std::string DecodeBillTable(const DecodeInput& input, DecodeOutput& output);
std::string DecodeCassetteStatus(const DecodeInput& input, DecodeOutput& output);
std::string DecodeExtendedCassetteStatus(const DecodeInput& input, DecodeOutput& output);
std::string DecodePowerRecovery(const DecodeInput& input, DecodeOutput& output);

// Statistics.
std::string DecodeStatistics(const DecodeInput& input, DecodeOutput& output);

// Diagnostics.
std::string DecodeDiagnosticStatus(const DecodeInput& input, DecodeOutput& output);
std::string DecodeSupportedFunctions(const DecodeInput& input, DecodeOutput& output);
std::string DecodeDiagnosticIdentification(const DecodeInput& input, DecodeOutput& output);

// Calendar time from BCD fields; false when the values do not form a valid
// local time (mktime would roll them over). Writes "%m/%d/%y %H:%M:%S".
bool FormatCalendarTime(int year, int month, int day, int hours, int minutes, int seconds, std::string& text);

// The table of log names.
struct DecoderEntry {
    std::string_view name;
    RequestDecoder request; // may be null
    ReplyDecoder reply;
};

// The entry for a log name (exact, case-sensitive), or null.
const DecoderEntry* FindDecoders(std::string_view logName);
// The whole table, in its order.
std::span<const DecoderEntry> DecoderEntries();

} // namespace orvex
