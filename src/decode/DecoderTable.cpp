#include "decode/Decoders.h"

namespace orvex {

namespace {

constexpr DecoderEntry kDecoders[] = {
    { "POLL", nullptr, DecodePoll },
    { "BILL TYPE", DecodeBillTypeRequest, DecodeAcknowledgementReply },
    { "SET CY TIME", DecodeTimeRequest, DecodeTime },
    { "GET CY TIME", nullptr, DecodeTime },
    { "GET CASSETTE STATUS", nullptr, DecodeCassetteStatus },
    { "POWER RECOVERY", nullptr, DecodePowerRecovery },
    { "EXTENDED CASSETTE STATUS REQUEST", DecodeCassetteNumberRequest, DecodeExtendedCassetteStatus },
    { "DISPENSE", DecodeDispenseRequest, DecodeAcknowledgementReply },
    { "DOWNLOAD", nullptr, DecodeAcknowledgementReply },
    { "CLEAR STATISTICS", nullptr, DecodeAcknowledgementReply },
    { "HOLD", nullptr, DecodeAcknowledgementReply },
    { "PACK", nullptr, DecodeAcknowledgementReply },
    { "RESET", nullptr, DecodeAcknowledgementReply },
    { "EMPTY DISPENSER", nullptr, DecodeAcknowledgementReply },
    { "RETURN", nullptr, DecodeAcknowledgementReply },
    { "SUSPEND", nullptr, DecodeAcknowledgementReply },
    { "EXTRACT BARCODE", nullptr, DecodeBarcode },
    { "BILL TABLE", nullptr, DecodeBillTable },
    { "REQUEST STATISTICS", nullptr, DecodeStatistics },
    { "READ USER DATA", DecodeUserDataRequest, DecodeUserData },
    { "WRITE USER DATA", DecodeUserDataRequest, DecodeAcknowledgementReply },
    { "IDENTIFICATION", nullptr, DecodeIdentification },
    { "VALIDATION SOFTWARE IDENTIFICATION", nullptr, DecodeValidationSoftwareIdentification },
    { "EXTENDED IDENTIFICATION", nullptr, DecodeIdentification },
    { "MODULE IDENTIFICATION", nullptr, DecodeModuleIdentification },
    { "SET BAR PARAMETERS", DecodeBarcodeParametersRequest, DecodeAcknowledgementReply },
    { "SET OPTIONS", DecodeOptionsRequest, DecodeAcknowledgementReply },
    { "GET OPTIONS", nullptr, DecodeOptionsReply },
    { "CRC32", nullptr, DecodeCrc32 },
    { "SET CASSETTE TYPE", DecodeCassetteTypeRequest, DecodeAcknowledgementReply },
    { "SET SECURITY", DecodeSecurityRequest, DecodeAcknowledgementReply },
    { "STATUS REQUEST", nullptr, DecodeStatus },
    { "UNLOAD", DecodeUnloadRequest, DecodeAcknowledgementReply },
    { "DIAGNOSTIC", DecodeRawRequest, DecodeRawReply },
    { "DIAGNOSTIC SENSOR STATE", nullptr, DecodeAcknowledgementReply },
    { "DIAGNOSTIC TEST VALIDATOR", nullptr, DecodeAcknowledgementReply },
    { "DIAGNOSTIC TEST DISPENSER", nullptr, DecodeAcknowledgementReply },
    { "DIAGNOSTIC TEST SWITCH", nullptr, DecodeAcknowledgementReply },
    { "DIAGNOSTIC TEST CHASSIS", nullptr, DecodeAcknowledgementReply },
    { "DIAGNOSTIC TEST COMMUNICATION", nullptr, DecodeAcknowledgementReply },
    { "DIAGNOSTIC TEST CASSETTE", DecodeDiagnosticCassetteRequest, DecodeAcknowledgementReply },
    { "DIAGNOSTIC SUPPORTED FUNCTIONS", nullptr, DecodeSupportedFunctions },
    { "DIAGNOSTIC IDENTIFICATION REQUEST", nullptr, DecodeDiagnosticIdentification },
    { "DIAGNOSTIC STATUS REQUEST", nullptr, DecodeDiagnosticStatus },
};

} // namespace

const DecoderEntry* FindDecoders(std::string_view logName)
{
    for (const DecoderEntry& entry : kDecoders) {
        if (entry.name == logName)
            return &entry;
    }
    return nullptr;
}

std::span<const DecoderEntry> DecoderEntries() { return kDecoders; }

} // namespace orvex
