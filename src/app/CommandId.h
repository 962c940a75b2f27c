#pragma once

#include <cstddef>

namespace orvex {

// One per command button of the main window, in the order of orvexctl's
// listing. The registry (CommandRegistry.h) holds one row per value, in
// this order; adding a value without its row does not compile.
enum class CommandId {
    Reset,
    Poll,
    StatusRequest,
    Identification,
    ExtendedIdentification,
    GetBillTable,
    BillType,
    SetBarcodeParameters,
    SetSecurity,
    ExtractBar,
    Stack,
    Return,
    Hold,
    GetCrc32,
    RequestStatistics,
    ModuleIdentification,
    ValidationSoftwareIdentification,
    SetOptions,
    GetOptions,
    InitializeBC,
    GetTime,
    SyncTime,
    GetCassetteStatus,
    SetCassetteType,
    UnloadCommand,
    UnloadingSequence,
    DispenseCommand,
    DispensingSequence,
    PowerRecovery,
    EmptyDispenser,
    ExtendedCassetteStatus,
    SetLevel,
    GetLevel,
    DgnStatus,
    DgnIdent,
    DgnFunctions,
    DgnSensors,
    DgnValidator,
    DgnCassette,
    DgnDispenser,
    DgnSwitch,
    DgnChassis,
    DgnComm,
    Diagnostic,
};

inline constexpr std::size_t kCommandCount = static_cast<std::size_t>(CommandId::Diagnostic) + 1;

} // namespace orvex
