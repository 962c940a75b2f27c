#include "app/CommandRegistry.h"

#include "protocol/CKRMSProtocol.h"

#include <cstdint>
#include <ctime>
#include <vector>

namespace orvex {

namespace {

using Panel = COperatorPanel;
using Need = ArgumentNeed;
using Kind = ArgumentKind;

constexpr CommandArgument Hex(std::string_view name, Need need, std::string_view what, int digits,
    std::string_view defaultText, void (*store)(PanelMembers&, long long, const std::string&))
{
    return { name, Kind::Hex, need, what, 1, digits, defaultText, {}, store };
}

constexpr CommandArgument Number(std::string_view name, Need need, std::string_view what, long long minimum,
    long long maximum, std::string_view defaultText, void (*store)(PanelMembers&, long long, const std::string&))
{
    return { name, Kind::Number, need, what, minimum, maximum, defaultText, {}, store };
}

// A cassette of the Cyclor unit: typed 1..3, kept as the combo box's index.
constexpr CommandArgument Cassette(void (*store)(PanelMembers&, long long, const std::string&))
{
    return Number("CASSETTE", Need::Required, "the cassette", 1, 3, "", store);
}

constexpr CommandArgument kBillTypeArguments[] = {
    Hex("ENABLED", Need::Optional, "the enabled bills", 6, "FFFFFF",
        [](PanelMembers& m, long long, const std::string& text) { m.enabledBills = text; }),
    Hex("ESCROW", Need::Optional, "the escrow mask", 6, "000000",
        [](PanelMembers& m, long long, const std::string& text) { m.escrowMask = text; }),
};

constexpr CommandArgument kBarcodeLength = Number("LENGTH", Need::Optional, "the barcode length", 6, 18, "18",
    [](PanelMembers& m, long long value, const std::string&) { m.barcodeLength = static_cast<std::uint8_t>(value); });
constexpr CommandArgument kSecurity = Hex("SECURITY", Need::Optional, "the security levels", 6, "000000",
    [](PanelMembers& m, long long, const std::string& text) { m.security = text; });
constexpr CommandArgument kOptions = Hex("OPTIONS", Need::Optional, "the options", 8, "60000000",
    [](PanelMembers& m, long long, const std::string& text) { m.options = text; });

constexpr CommandArgument kSetBarcodeArguments[] = { kBarcodeLength };
constexpr CommandArgument kSetSecurityArguments[] = { Hex("HEX", Need::Optional, "the security levels", 6, "000000",
    [](PanelMembers& m, long long, const std::string& text) { m.security = text; }) };
constexpr CommandArgument kSetOptionsArguments[] = { Hex("HEX", Need::Optional, "the options", 8, "60000000",
    [](PanelMembers& m, long long, const std::string& text) { m.options = text; }) };
constexpr CommandArgument kInitializeArguments[] = { kSecurity, kBarcodeLength, kOptions };

constexpr CommandArgument kSetCassetteTypeArguments[] = {
    Cassette([](PanelMembers& m, long long value, const std::string&) { m.settingsCassette = static_cast<int>(value - 1); }),
    { "MODE", Kind::Word, Need::Required, "the mode must be assigned, not-assigned or escrow", 0, 0, "",
        { "assigned", "not-assigned", "escrow" },
        [](PanelMembers& m, long long choice, const std::string&) {
            m.cassetteStatus = choice == 1 ? CassetteStatusChoice::NotAssigned
                : choice == 2              ? CassetteStatusChoice::Escrow
                                           : CassetteStatusChoice::Assigned;
        } },
    Number("BILLTYPE", Need::Optional, "the bill type", 0, 255, "0",
        [](PanelMembers& m, long long value, const std::string&) { m.cassetteBillType = static_cast<std::uint8_t>(value); }),
};

constexpr CommandArgument kUnloadArguments[] = {
    Cassette([](PanelMembers& m, long long value, const std::string&) { m.unloadCassette = static_cast<int>(value - 1); }),
    Number("NUMBER", Need::Required, "the number of bills", 0, 255, "",
        [](PanelMembers& m, long long value, const std::string&) { m.unloadNumber = static_cast<int>(value); }),
};

constexpr std::string_view kBillTypeWhat = "the bill type";
constexpr std::string_view kBillCountWhat = "the number of bills (-1 leaves the row out)";
constexpr CommandArgument kDispenseArguments[] = {
    Number("T1", Need::Optional, kBillTypeWhat, 0, 255, "0",
        [](PanelMembers& m, long long value, const std::string&) { m.dispenseType1 = static_cast<unsigned>(value); }),
    Number("N1", Need::Optional, kBillCountWhat, -1, 255, "1",
        [](PanelMembers& m, long long value, const std::string&) { m.dispenseNumber1 = static_cast<int>(value); }),
    Number("T2", Need::Optional, kBillTypeWhat, 0, 255, "1",
        [](PanelMembers& m, long long value, const std::string&) { m.dispenseType2 = static_cast<unsigned>(value); }),
    Number("N2", Need::Optional, kBillCountWhat, -1, 255, "-1",
        [](PanelMembers& m, long long value, const std::string&) { m.dispenseNumber2 = static_cast<int>(value); }),
    Number("T3", Need::Optional, kBillTypeWhat, 0, 255, "2",
        [](PanelMembers& m, long long value, const std::string&) { m.dispenseType3 = static_cast<std::uint8_t>(value); }),
    Number("N3", Need::Optional, kBillCountWhat, -1, 255, "-1",
        [](PanelMembers& m, long long value, const std::string&) { m.dispenseNumber3 = static_cast<int>(value); }),
};

constexpr CommandArgument kExtendedStatusArguments[] = { Cassette(
    [](PanelMembers& m, long long value, const std::string&) { m.extendedStatusCassette = static_cast<int>(value - 1); }) };

constexpr CommandArgument kSetLevelArguments[] = {
    Cassette([](PanelMembers& m, long long value, const std::string&) { m.feedingCassette = static_cast<int>(value - 1); }),
    Number("LEVEL", Need::Required, "the level", 0, 255, "",
        [](PanelMembers& m, long long value, const std::string&) { m.feedingLevel = static_cast<int>(value); }),
    { "disable", Kind::Word, Need::Optional, "the third word of set-level can only be disable", 0, 0, "",
        { "disable" }, [](PanelMembers& m, long long, const std::string&) { m.feedingDisable = 1; } },
};

constexpr CommandArgument kDgnCassetteArguments[] = { Number("N", Need::Optional, "the cassette", 1, 16, "1",
    [](PanelMembers& m, long long value, const std::string&) { m.diagnosticCassette = static_cast<std::uint8_t>(value); }) };

constexpr CommandArgument kDiagnosticArguments[] = {
    Hex("CODE", Need::Required, "the diagnostic code", 2, "",
        [](PanelMembers& m, long long, const std::string& text) { m.diagnosticCode = text; }),
    Hex("DATA", Need::Required, "the diagnostic data", 16, "",
        [](PanelMembers& m, long long, const std::string& text) { m.diagnosticData = text; }),
    Number("BYTES", Need::Required, "the byte count", 0, Panel::kMaxDiagnosticBytes, "",
        [](PanelMembers& m, long long value, const std::string&) { m.diagnosticByte = static_cast<std::uint8_t>(value); }),
};

constexpr std::span<const CommandArgument> kNone {};

} // namespace

// A friend of the operator panel, so that its rows may name the panel's
// handlers while the panel offers only Run.
struct CCommandTable {
    using P = CKRMSProtocol&;
    using M = const PanelMembers&;
    static constexpr auto kDisabled = PollingUse::Disabled;
    static constexpr auto kAllowed = PollingUse::Allowed;
    static constexpr auto kE = FailureText::Protocol;
    static constexpr auto kI = FailureText::Device;
    static constexpr auto kSend = &Panel::SendExchange;
    static constexpr auto kNested = OptionalStyle::Nested;

    static constexpr std::array<CommandRow, kCommandCount> kRows { {
        { CommandId::Reset, 1000, "Reset", "reset", "RESET", kDisabled, "", "Reset: OK", "Reset:", kE, kSend,
            [](P p, M m) { return p.Reset(m.deviceAddress); }, kNone, kNested, 1 },
        { CommandId::Poll, 1001, "Poll", "poll", "POLL", kDisabled, "Wait...", "Poll: OK", "Poll: ", kE, &Panel::Poll,
            nullptr, kNone, kNested, 1 },
        { CommandId::StatusRequest, 1008, "Status request", "status", "STATUS REQUEST", kDisabled, nullptr,
            "Status : OK", "Status : ", kE, kSend, [](P p, M m) { return p.StatusRequest(m.deviceAddress); }, kNone,
            kNested, 1 },
        { CommandId::Identification, 1012, "Identification", "identification", "IDENTIFICATION", kDisabled, nullptr,
            "Identification : OK", "Identification : ", kE, kSend,
            [](P p, M m) { return p.Identification(m.deviceAddress); }, kNone, kNested, 1 },
        { CommandId::ExtendedIdentification, 1147, "Extended Identification", "ext-identification",
            "EXTENDED IDENTIFICATION", kDisabled, nullptr, "Extended Identification : OK",
            "Extended  Identification : ", kE, kSend,
            [](P p, M m) { return p.ExtendedIdentification(m.deviceAddress); }, kNone, kNested, 1 },
        { CommandId::GetBillTable, 1056, "Get Bill Table", "bill-table", "BILL TABLE", kDisabled, nullptr,
            "Get Bill Table : OK", "Get Bill Table : ", kE, &Panel::GetBillTable, nullptr, kNone, kNested, 1 },
        { CommandId::BillType, 1005, "Bill Type", "bill-type", "BILL TYPE", kDisabled, nullptr, "Bill Type: OK",
            "Bill Type: ", kE, &Panel::BillType, nullptr, kBillTypeArguments, kNested, 2 },
        { CommandId::SetBarcodeParameters, 1125, "Set barcode parameters", "set-barcode", "SET BAR PARAMETERS",
            kDisabled, nullptr, "Setting Barcode Parameters: OK", "Setting Barcode Parameters:", kE, kSend,
            [](P p, M m) { return p.SetBarParameters(1, m.barcodeLength, m.deviceAddress); }, kSetBarcodeArguments,
            kNested, 2 },
        { CommandId::SetSecurity, 1127, "Set security", "set-security", "SET SECURITY", kDisabled, nullptr,
            "Setting Security: OK", "Setting Security:", kE, &Panel::SetSecurity, nullptr, kSetSecurityArguments,
            kNested, 2 },
        { CommandId::ExtractBar, 1126, "Extract BAR", "extract-barcode", "EXTRACT BARCODE", kDisabled, nullptr,
            "Extract Barcode: OK", "Extract Barcode:", kE, kSend,
            [](P p, M m) {
                std::string text;
                return p.ExtractBarcode(text, m.deviceAddress);
            },
            kNone, kNested, 3 },
        { CommandId::Stack, 1023, "Stack", "stack", "PACK", kDisabled, nullptr, "Pack: OK", "Pack:", kE, kSend,
            [](P p, M m) { return p.Pack(m.deviceAddress); }, kNone, kNested, 3 },
        { CommandId::Return, 1024, "Return", "return", "RETURN", kDisabled, nullptr, "Return: OK", "Return:", kE,
            kSend, [](P p, M m) { return p.Return(m.deviceAddress); }, kNone, kNested, 3 },
        { CommandId::Hold, 1123, "Hold", "hold", "HOLD", kDisabled, nullptr, "Hold: OK", "Hold:", kE, kSend,
            [](P p, M m) { return p.Hold(m.deviceAddress); }, kNone, kNested, 3 },
        { CommandId::GetCrc32, 1141, "Get CRC32", "crc32", "CRC32", kDisabled, nullptr, "CRC32 : OK", "CRC32 : ", kE,
            kSend,
            [](P p, M m) {
                std::uint32_t value = 0;
                return p.Crc32(value, m.deviceAddress);
            },
            kNone, kNested, 3 },
        { CommandId::RequestStatistics, 1144, "Request statistics", "statistics", "REQUEST STATISTICS", kAllowed,
            nullptr, "Request statistics: OK", "Request statistics:", kE, kSend,
            [](P p, M m) {
                std::vector<std::uint8_t> buffer(10000);
                return p.RequestStatistics(buffer.data(), static_cast<int>(buffer.size()), m.deviceAddress);
            },
            kNone, kNested, 3 },
        { CommandId::ModuleIdentification, 1148, "Module Identification", "module-id", "MODULE IDENTIFICATION",
            kAllowed, nullptr, "Module Identification : OK", "Module Identification : ", kE, kSend,
            [](P p, M m) { return p.ModuleIdentification(m.deviceAddress); }, kNone, kNested, 3 },
        { CommandId::ValidationSoftwareIdentification, 1154, "Validation Software Identification", "software-id",
            "VALIDATION SOFTWARE IDENTIFICATION", kAllowed, nullptr, "Validation Software Identification : OK",
            "Validation Software Identification : ", kE, kSend,
            [](P p, M m) { return p.ValidationSoftwareIdentification(m.deviceAddress); }, kNone, kNested, 3 },
        { CommandId::SetOptions, 1138, "Set options", "set-options", "SET OPTIONS", kDisabled, nullptr,
            "Setting Options: OK", "Setting Options:", kE, &Panel::SetOptions, nullptr, kSetOptionsArguments, kNested,
            4 },
        { CommandId::GetOptions, 1139, "Get options", "get-options", "GET OPTIONS", kDisabled, nullptr,
            "Requesting Options : OK", "Requesting Options : ", kE, kSend,
            [](P p, M m) {
                std::uint32_t options = 0;
                return p.GetOptions(options, m.deviceAddress);
            },
            kNone, kNested, 4 },
        { CommandId::InitializeBC, 1015, "Initialize BC", "init-bc", "", kDisabled, nullptr, "Initialization passed",
            "Initialization failed:", kE, &Panel::InitializeBC, nullptr, kInitializeArguments, kNested, 4 },
        { CommandId::GetTime, 1084, "Get Time", "get-time", "GET CY TIME", kDisabled, nullptr, "", "", kE,
            &Panel::GetTime, nullptr, kNone, kNested, 5 },
        { CommandId::SyncTime, 1083, "Sync Time", "sync-time", "", kDisabled, nullptr, "", "", kE, &Panel::SyncTime,
            nullptr, kNone, kNested, 5 },
        { CommandId::GetCassetteStatus, 1020, "Get cassette status ", "cassette-status", "GET CASSETTE STATUS",
            kDisabled, nullptr, "Cassette status request:OK", "Cassette status request failed:", kE, kSend,
            [](P p, M) { return p.GetCassetteStatus(); }, kNone, kNested, 5 },
        { CommandId::SetCassetteType, 1044, "Set Cassette Type", "set-cassette-type", "SET CASSETTE TYPE", kDisabled,
            nullptr, "Set Cassete Status: OK", "Set Cassete Status: ", kE, &Panel::SetCassetteType, nullptr,
            kSetCassetteTypeArguments, kNested, 6 },
        { CommandId::UnloadCommand, 1073, "Unload Command", "unload-cmd", "UNLOAD", kDisabled, "Unloading...",
            "Unload Cmd: OK", "Unload Cmd:", kI, &Panel::UnloadCommand, nullptr, kUnloadArguments, kNested, 7 },
        { CommandId::UnloadingSequence, 1014, "Unloading sequence", "unload", "", kDisabled, "Unloading...",
            "Unload: OK", "Unload:", kI, &Panel::UnloadingSequence, nullptr, kUnloadArguments, kNested, 7 },
        { CommandId::DispenseCommand, 1072, "Dispense Command", "dispense-cmd", "DISPENSE", kDisabled, "Dispensing...",
            "Dispense: OK", "Dispense:", kI, kSend,
            [](P p, M m) {
                // A number of -1 becomes 255, which leaves its pair out of the frame.
                const std::uint8_t pairs[6] = {
                    static_cast<std::uint8_t>(m.dispenseType1), static_cast<std::uint8_t>(m.dispenseNumber1),
                    static_cast<std::uint8_t>(m.dispenseType2), static_cast<std::uint8_t>(m.dispenseNumber2),
                    m.dispenseType3, static_cast<std::uint8_t>(m.dispenseNumber3),
                };
                return p.DispensePairs(pairs);
            },
            kDispenseArguments, OptionalStyle::Together, 8 },
        { CommandId::DispensingSequence, 1026, "Dispensing sequence", "dispense", "", kDisabled, "Dispensing...",
            "Dispense: OK", "Dispense:", kI, &Panel::DispensingSequence, nullptr, kDispenseArguments,
            OptionalStyle::Together, 8 },
        { CommandId::PowerRecovery, 1137, "Power Recovery", "power-recovery", "POWER RECOVERY", kDisabled, "",
            "Power Recovery: OK", "Power Recovery:", kE, kSend,
            [](P p, M) {
                std::uint8_t state = 0;
                std::uint8_t buffer[256] = {};
                int count = 0;
                return p.PowerRecovery(state, buffer, sizeof buffer, count);
            },
            kNone, kNested, 9 },
        { CommandId::EmptyDispenser, 1143, "Empty Dispenser", "empty-dispenser", "EMPTY DISPENSER", kDisabled, nullptr,
            "Empty Dispenser: OK", "Empty Dispenser:", kE, kSend, [](P p, M) { return p.EmptyDispenser(); }, kNone,
            kNested, 9 },
        { CommandId::ExtendedCassetteStatus, 1145, "Extended Cassette Status", "ext-cassette-status",
            "EXTENDED CASSETTE STATUS REQUEST", kAllowed, nullptr, "Requesting Extended Cassette Status : OK",
            "Requesting Extended Cassette Status : ", kE, &Panel::ExtendedCassetteStatus, nullptr,
            kExtendedStatusArguments, kNested, 9 },
        { CommandId::SetLevel, 1179, "Set level", "set-level", "SET CASSETTE FEEDING LEVEL", kDisabled, nullptr,
            "Set Cassete Feeding Level: OK", "Set Cassete Feeding Level: ", kE, &Panel::SetLevel, nullptr,
            kSetLevelArguments, kNested, 10 },
        { CommandId::GetLevel, 1180, "Get level", "get-level", "GET CASSETTE FEEDING LEVEL", kDisabled, nullptr,
            "Get Cassete Feeding Level: OK", "Get Cassete Feeding Level: ", kE, &Panel::GetLevel, nullptr, kNone,
            kNested, 10 },
        { CommandId::DgnStatus, 1163, "Dgn Status", "dgn-status", "DIAGNOSTIC STATUS REQUEST", kAllowed, nullptr,
            "Diagnostics/Status request: OK", "Diagnostics/Status request:", kI, kSend,
            [](P p, M m) {
                std::uint8_t status = 0;
                std::uint8_t buffer[256] = {};
                int count = 0;
                return p.DiagnosticStatusRequest(status, buffer, sizeof buffer, count, m.deviceAddress);
            },
            kNone, kNested, 11 },
        { CommandId::DgnIdent, 1164, "Dgn Ident", "dgn-ident", "DIAGNOSTIC IDENTIFICATION REQUEST", kAllowed, nullptr,
            "Diagnostics/Identification request: OK", "Diagnostics/Identification request:", kI, kSend,
            [](P p, M m) { return p.DiagnosticIdentificationRequest(m.deviceAddress); }, kNone, kNested, 11 },
        { CommandId::DgnFunctions, 1165, "Dgn Functions", "dgn-functions", "DIAGNOSTIC SUPPORTED FUNCTIONS", kAllowed,
            nullptr, "Diagnostics/Function list: OK", "Diagnostics/Function list:", kI, &Panel::DgnFunctions, nullptr,
            kNone, kNested, 11 },
        { CommandId::DgnSensors, 1166, "Dgn Sensors", "dgn-sensors", "DIAGNOSTIC SENSOR STATE", kAllowed, nullptr,
            "Diagnostics/Sensor state: OK", "Diagnostics/Sensor state:", kI, kSend,
            [](P p, M m) { return p.DiagnosticSensorState(m.deviceAddress); }, kNone, kNested, 11 },
        { CommandId::DgnValidator, 1170, "Dgn Validator", "dgn-validator", "DIAGNOSTIC TEST VALIDATOR", kAllowed,
            nullptr, "Diagnostics/Test Validator: OK", "Diagnostics/Test Validator:", kI, kSend,
            [](P p, M m) { return p.DiagnosticTestValidator(m.deviceAddress); }, kNone, kNested, 11 },
        { CommandId::DgnCassette, 1167, "Dgn Cassette", "dgn-cassette", "DIAGNOSTIC TEST CASSETTE", kAllowed, nullptr,
            "Diagnostics/Test cassette: OK", "Diagnostics/Test cassette:", kI, kSend,
            [](P p, M m) { return p.DiagnosticTestCassette(m.diagnosticCassette, m.deviceAddress); },
            kDgnCassetteArguments, kNested, 11 },
        { CommandId::DgnDispenser, 1168, "Dgn Dispenser", "dgn-dispenser", "DIAGNOSTIC TEST DISPENSER", kAllowed,
            nullptr, "Diagnostics/Test dispenser: OK", "Diagnostics/Test dispenser:", kI, kSend,
            [](P p, M m) { return p.DiagnosticTestDispenser(m.deviceAddress); }, kNone, kNested, 12 },
        { CommandId::DgnSwitch, 1169, "Dgn Switch", "dgn-switch", "DIAGNOSTIC TEST SWITCH", kAllowed, nullptr,
            "Diagnostics/Test switch: OK", "Diagnostics/Test switch:", kI, kSend,
            [](P p, M m) { return p.DiagnosticTestSwitch(m.deviceAddress); }, kNone, kNested, 12 },
        { CommandId::DgnChassis, 1171, "Dgn Chassis", "dgn-chassis", "DIAGNOSTIC TEST CHASSIS", kAllowed, nullptr,
            "Diagnostics/Test chassis: OK", "Diagnostics/Test chassis:", kI, kSend,
            [](P p, M m) { return p.DiagnosticTestChassis(m.deviceAddress); }, kNone, kNested, 12 },
        { CommandId::DgnComm, 1172, "Dgn Comm", "dgn-comm", "DIAGNOSTIC TEST COMMUNICATION", kAllowed, nullptr,
            "Diagnostics/Test communication: OK", "Diagnostics/Test communication:", kI, kSend,
            [](P p, M m) { return p.DiagnosticTestCommunication(m.deviceAddress); }, kNone, kNested, 12 },
        { CommandId::Diagnostic, 1175, "Diagnostic", "diagnostic", "DIAGNOSTIC", kAllowed, nullptr, "Diagnostics: OK",
            "Diagnostics:", kI, &Panel::Diagnostic, nullptr, kDiagnosticArguments, kNested, 12 },
    } };

    // A row out of place, a missing handler, a plain row without its
    // command, two rows with one word or control, or an argument list the
    // parser cannot read stops the build.
    static constexpr bool Sound()
    {
        for (std::size_t index = 0; index < kRows.size(); ++index) {
            const CommandRow& row = kRows[index];
            if (static_cast<std::size_t>(row.id) != index || row.word.empty() || row.caption.empty())
                return false;
            for (std::size_t other = 0; other < index; ++other) {
                if (kRows[other].word == row.word || kRows[other].control == row.control
                    || kRows[other].caption == row.caption || kRows[other].usageLine > row.usageLine)
                    return false;
            }
            bool optional = false;
            for (const CommandArgument& argument : row.arguments) {
                if (argument.store == nullptr || argument.name.empty() || argument.minimum > argument.maximum)
                    return false;
                if (argument.kind == Kind::Word && argument.choices[0].empty())
                    return false;
                if (optional && argument.need == Need::Required)
                    return false;
                optional = optional || argument.need == Need::Optional;
            }
        }
        return true;
    }
};

static_assert(CCommandTable::Sound(), "the command registry has a row that cannot work");

// Member-function pointers are not constant expressions under the
// sanitizers' instrumentation, so the handlers are checked when run.
bool CommandHandlersWired()
{
    for (const CommandRow& row : CCommandTable::kRows) {
        if (row.handler == nullptr || (row.handler == CCommandTable::kSend) != (row.exchange != nullptr))
            return false;
    }
    return true;
}

std::span<const CommandRow> CommandRows() { return CCommandTable::kRows; }

const CommandRow& Command(CommandId id) { return CCommandTable::kRows[static_cast<std::size_t>(id)]; }

const CommandRow* FindCommandWord(std::string_view word)
{
    for (const CommandRow& row : CCommandTable::kRows) {
        if (row.word == word)
            return &row;
    }
    return nullptr;
}

std::size_t RequiredArguments(const CommandRow& row)
{
    std::size_t count = 0;
    for (const CommandArgument& argument : row.arguments)
        count += argument.need == Need::Required ? 1 : 0;
    return count;
}

namespace {

std::string ArgumentText(const CommandArgument& argument)
{
    if (argument.kind != Kind::Word)
        return std::string(argument.name);
    std::string text;
    for (std::string_view choice : argument.choices) {
        if (choice.empty())
            break;
        text += (text.empty() ? "" : "|") + std::string(choice);
    }
    return text;
}

std::string OrList(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (index > 0)
            text += index + 1 == items.size() ? " or " : ", ";
        text += items[index];
    }
    return text;
}

std::string ArgumentDescription(const CommandArgument& argument)
{
    std::string text = std::string(argument.name) + " ";
    switch (argument.kind) {
    case Kind::Hex:
        text += "hex, 1 to " + std::to_string(argument.maximum) + " digits";
        break;
    case Kind::Number:
        text += std::to_string(argument.minimum) + ".." + std::to_string(argument.maximum);
        break;
    case Kind::Word: {
        std::vector<std::string> choices;
        for (std::string_view choice : argument.choices) {
            if (!choice.empty())
                choices.push_back("`" + std::string(choice) + "`");
        }
        text = argument.need == Need::Optional && choices.size() == 1 ? "optional " + choices[0]
                                                                       : text + OrList(choices);
        break;
    }
    }
    if (!argument.defaultText.empty())
        text += ", `" + std::string(argument.defaultText) + "`";
    return text;
}

} // namespace

std::string CommandSynopsis(const CommandRow& row)
{
    std::string text(row.word);
    std::size_t open = 0;
    for (const CommandArgument& argument : row.arguments) {
        text += ' ';
        if (argument.need == Need::Optional && (row.optionalStyle == OptionalStyle::Nested || open == 0)) {
            text += '[';
            ++open;
        }
        text += ArgumentText(argument);
    }
    return text + std::string(open, ']');
}

std::string CommandTableMarkdown()
{
    std::string text = "| command | button | sends | arguments |\n|---|---|---|---|\n";
    for (const CommandRow& row : CCommandTable::kRows) {
        std::string synopsis;
        for (char c : CommandSynopsis(row))
            synopsis += c == '|' ? std::string("\\|") : std::string(1, c);
        std::string arguments;
        for (const CommandArgument& argument : row.arguments)
            arguments += (arguments.empty() ? "" : "; ") + ArgumentDescription(argument);
        std::string caption(row.caption);
        while (!caption.empty() && caption.back() == ' ')
            caption.pop_back();
        text += "| `" + synopsis + "` | " + caption + " | "
            + (row.logName.empty() ? std::string("a sequence") : std::string(row.logName)) + " | "
            + (arguments.empty() ? std::string("—") : arguments) + " |\n";
    }
    return text;
}

} // namespace orvex
