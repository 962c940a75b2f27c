#include "decode/Decoders.h"
#include "decode/FrameBytes.h"
#include "link/WireVocabulary.h"

#include <cinttypes>
#include <cstdio>
#include <span>

namespace orvex {

namespace {

constexpr CommonStartRule kWholeStart { ShortReply::Acknowledge, InvalidCommandCheck::Run, ByteSource::Record };
// A six-byte reply with data byte 0x00 is the READY answer, not an ACK.
constexpr CommonStartRule kStatusStart { ShortReply::Decode, InvalidCommandCheck::Run, ByteSource::Record };

struct BitText {
    int bit;
    const char* text;
};

// In output order, which is not always bit order.
constexpr BitText kSensorBits[] = {
    { 8, "<-      Validating head input sensor activated" },
    { 9, "<-      Validating head input sensor 2 activated" },
    { 10, "<-      Validating head ROLL sensor activated" },
    { 11, "<-      Validating head begin alignment sensor activated" },
    { 12, "<-      Validating head end alignment sensor activated" },
    { 13, "<-      Validating head Sense-A-Click input sensor activated" },
    { 14, "<-      Validating head exit sensor activated" },
    { 16, "<-      Upper sensor of the upper tract activated" },
    { 17, "<-      Central sensor of the upper tract activated" },
    { 18, "<-      Lower sensor of the upper tract activated" },
    { 19, "<-      Upper sensor of the lower tract activated" },
    { 20, "<-      Central sensor of the lower tract activated" },
    { 21, "<-      Lower sensor of the lower tract activated" },
    { 24, "<-      Dispenser input sensor activated" },
    { 25, "<-      Dispenser drum position sensor activated" },
    { 26, "<-      Dispenser upper channel sensor activated" },
    { 27, "<-      Dispenser lower channel sensor activated" },
    { 28, "<-      Dispenser exit sensor activated" },
    { 29, "<-      Dispenser shutter sensor activated" },
    { 32, "<-      Cassette 1 input sensor activated" },
    { 33, "<-      Cassette 1 tape sensor activated" },
    { 34, "<-      Cassette 1 overflow sensor activated" },
    { 35, "<-      Cassette 2 input sensor activated" },
    { 36, "<-      Cassette 2 tape sensor activated" },
    { 37, "<-      Cassette 2 overflow sensor activated" },
    { 38, "<-      Cassette 3 input sensor activated" },
    { 39, "<-      Cassette 3 tape sensor activated" },
    { 40, "<-      Cassette 3 overflow sensor activated" },
};

constexpr BitText kValidatorBits[] = {
    { 0, "<-      Left IR optical sensor on magnetic board failed" },
    { 1, "<-      Central IR optical sensor on magnetic board failed" },
    { 2, "<-      Right IR optical sensor on magnetic board failed" },
    { 3, "<-      Left IR optical sensor on optical board failed" },
    { 4, "<-      Central IR optical sensor on optical board failed" },
    { 5, "<-      Right IR optical sensor on optical board failed" },
    { 6, "<-      Left Yellow optical sensor on magnetic board failed" },
    { 7, "<-      Central Yellow optical sensor on magnetic board failed" },
    { 8, "<-      Right Yellow optical sensor on magnetic board failed" },
    { 9, "<-      Left Yellow optical sensor on optical board failed" },
    { 10, "<-      Central Yellow optical sensor on optical board failed" },
    { 11, "<-      Right Yellow optical sensor on optical board failed" },
    { 15, "<-      Left additional optical sensor on optical board failed" },
    { 16, "<-      Central additional optical sensor on optical board failed" },
    { 17, "<-      Right additional optical sensor on optical board failed" },
    { 12, "<-      Left additional optical sensor on magnetic board failed" },
    { 13, "<-      Central additional optical sensor on magnetic board failed" },
    { 14, "<-      Right additional optical sensor on magnetic board failed" },
    { 18, "<-      Left optical sensor failed on translucence" },
    { 19, "<-      Central optical sensor failed on translucence" },
    { 20, "<-      Right optical sensor failed on translucence" },
    { 21, "<-      Anti-stringing sensor failed" },
    { 22, "<-      Bardcode sensor failed" },
    { 24, "<-      Validating head input sensor failed" },
    { 26, "<-      Validating head input sensor 2 failed" },
    { 27, "<-      Validating head exit sensor failed" },
    { 28, "<-      Validating head ROLL sensor failed" },
    { 29, "<-      Validating head alignment sensor failed" },
    { 32, "<-      Dielectric sensor on magnetic board failed" },
    { 33, "<-      Dielectric sensor on optical board failed" },
    { 34, "<-      Central magnetic sensor failed" },
    { 35, "<-      Second magnetic sensor failed" },
    { 36, "<-      Third magnetic sensor failed" },
    { 41, "<-      Transport mechanism failed" },
    { 42, "<-      Alignment mechanism failed" },
    // The one bit between alignment (42) and box presence (44) with no
    // other text.
    { 43, "<-      Stacking mechanism failed" },
    { 44, "<-      Box presence sensor failed" },
    { 45, "<-      Stacking platform position sensor failed" },
};

constexpr BitText kCassetteBits[] = {
    { 0, "<-      Tape optical encoder failed" },
    { 1, "<-      Unable to sustain the set speed" },
    { 8, "<-      Input sensor failed" },
    { 9, "<-      Tape sensor failed" },
    { 10, "<-      Drum overflow sensor failed" },
};

constexpr BitText kDispenserBits[] = {
    { 0, "<-      Drum optical encoder failed" },
    { 1, "<-      Unable to sustain the set speed" },
    { 2, "<-      Shutter optical encoder failed" },
    { 8, "<-      Input sensor failed" },
    { 9, "<-      Drum position sensor failed" },
    { 10, "<-      Upper channel sensor failed" },
    { 11, "<-      Lower channel sensor failed" },
    { 12, "<-      Exit sensor failed" },
    { 13, "<-      Shutter position sensor failed" },
};

constexpr BitText kSwitchBits[] = {
    { 0, "<-      Switch motor optical encoder failed" },
    { 2, "<-      Unable to position the switch" },
    { 1, "<-      Switch position sensor failed" },
};

constexpr BitText kChassisBits[] = {
    { 0, "<-      Optical encoder failed" },
    { 1, "<-      Unable to sustain the set speed" },
    { 8, "<-      Upper sensor of the upper tract failed" },
    { 9, "<-      Central sensor of the upper tract failed" },
    { 10, "<-      Lower sensor of the upper tract failed" },
    { 11, "<-      Upper sensor of the lower tract failed" },
    { 12, "<-      Central sensor of the lower tract failed" },
    { 13, "<-      Lower sensor of the lower tract failed" },
};

constexpr BitText kCommunicationBits[] = {
    { 8, "<-      Communication with chassis failed" },
    { 9, "<-      Communication with dispenser failed" },
    { 10, "<-      Communication with cassette 1 failed" },
    { 11, "<-      Communication with cassette 2 failed" },
    { 12, "<-      Communication with cassette 3 failed" },
    { 13, "<-      Communication with RTC failed" },
    { 14, "<-      Communication with EEPROM failed" },
};

struct TestResult {
    std::uint8_t status;
    const char* header; // printf form with one 64-bit number
    int width;          // bytes of the result number
    std::span<const BitText> bits;
};

constexpr TestResult kResults[] = {
    { wire::kDiagnosticSensorState, "<-     State of sensors: %016" PRIX64, 6, kSensorBits },
    { wire::kDiagnosticTestValidator, "<-     Validator test result: %016" PRIX64, 6, kValidatorBits },
    { wire::kDiagnosticTestCassette, "<-     Cassette test result: %016" PRIX64, 2, kCassetteBits },
    { wire::kDiagnosticTestDispenser, "<-     Dispenser test result: %016" PRIX64, 2, kDispenserBits },
    { wire::kDiagnosticTestSwitch, "<-     Switch test result: %016" PRIX64, 2, kSwitchBits },
    { wire::kDiagnosticTestChassis, "<-     Chassis test result: %016" PRIX64, 2, kChassisBits },
    { wire::kDiagnosticTestCommunication, "<-     Communication test result: %016" PRIX64, 2, kCommunicationBits },
};

constexpr std::uint8_t kSensorState = wire::kDiagnosticSensorState;

} // namespace

std::string DecodeDiagnosticStatus(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kStatusStart, bytes, result))
        return result;
    std::uint8_t status = bytes.Byte(3);
    if (status == wire::kDiagnosticReady)
        return "<-    READY";
    if (status == wire::kDiagnosticRunning)
        return "<-    BUSY";
    for (const TestResult& test : kResults) {
        if (test.status != status)
            continue;
        std::uint64_t value = bytes.Number(4, test.width);
        char header[80];
        std::snprintf(header, sizeof header, test.header, value);
        output.Add(header);
        for (const BitText& bit : test.bits) {
            if ((value >> bit.bit) & 1U)
                output.Add(bit.text);
        }
        if (status == kSensorState)
            return {};
        return value == 0 ? "<-     Test passed" : "<-     Test failed";
    }
    char line[40];
    std::snprintf(line, sizeof line, "<-     Unknown status (%02X)", static_cast<unsigned>(status));
    return line;
}

std::string DecodeSupportedFunctions(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kWholeStart, bytes, result))
        return result;
    std::string current = "<-  List of supported functions:";
    for (int offset = 3; offset < bytes.DataEnd(); ++offset) {
        output.Add(std::move(current));
        char line[16];
        std::snprintf(line, sizeof line, "<-  %02X", static_cast<unsigned>(bytes.Byte(offset)));
        current = line;
    }
    return current;
}

std::string DecodeDiagnosticIdentification(const DecodeInput& input, DecodeOutput& output)
{
    CFrameBytes bytes;
    std::string result;
    if (!CommonStart(input, kWholeStart, bytes, result))
        return result;
    // Three zero-terminated texts; a text cut off by the end of the data
    // leaves the ones after it empty.
    int offset = 3;
    std::string_view texts[3];
    for (std::string_view& text : texts) {
        text = bytes.TextToZero(offset);
        offset += static_cast<int>(text.size()) + 1;
    }
    output.Add(std::string("<-  Manufacturer: ").append(texts[0]));
    output.Add(std::string("<-  Device: ").append(texts[1]));
    return std::string("<-  Version: ").append(texts[2]);
}

} // namespace orvex
