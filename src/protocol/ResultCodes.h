#pragma once

namespace orvex {

// Result codes shared by the whole system.
inline constexpr int kOk = 0;
inline constexpr int kTimeout = -1;
inline constexpr int kSynchronizationError = -2;
inline constexpr int kDataError = -3;
inline constexpr int kCrcError = -4;
inline constexpr int kAckNotReceived = -5;
inline constexpr int kInvalidCommand = -6;
inline constexpr int kExecutionError = -7;

} // namespace orvex
