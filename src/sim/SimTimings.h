#pragma once

#include <cstdint>

// How long the unit's phases last (before --pace scales them) and where
// the failure counters sit in a statistics block.
namespace orvex::simfields {

inline constexpr double kInitializingMs = 600;
inline constexpr double kAcceptingMs = 500;
inline constexpr double kStackingMs = 800;
inline constexpr double kReturningMs = 600;
inline constexpr double kRejectingMs = 700;
inline constexpr double kResultMs = 150; // the short states that report a result
inline constexpr double kDispenseMovingMs = 400;
inline constexpr double kDispensePerBillMs = 100;
inline constexpr double kUnloadingMs = 500;
inline constexpr double kUnloadPerBillMs = 80;
inline constexpr double kSettingTypeMs = 700;
inline constexpr double kReaderResetMs = 300;
inline constexpr double kDiagnosticTestMs = 1000;
inline constexpr std::uint32_t kSessionFunds = 5000; // 50.00 on a card

// Statistics counters of the failure bytes (block offsets 166..178).
inline constexpr int kFailureTransport = 2;
inline constexpr int kFailureStacking = 3;
inline constexpr int kFailureAligning = 4;
inline constexpr int kFailureOptical = 1;
inline constexpr int kFailureMagnetic = 0;
inline constexpr int kJamDropCassette = 5;
inline constexpr int kJamInputAligning = 7;

} // namespace orvex::simfields
