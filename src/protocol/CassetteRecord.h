#pragma once

#include <cstdint>
#include <string>

namespace orvex {

// Status markers beside the device's own status byte.
inline constexpr std::uint8_t kCassetteNoCassettes = 250;
inline constexpr std::uint8_t kCassetteEscrowType = 252;
inline constexpr std::uint8_t kCassetteNotRead = 253;
inline constexpr std::uint8_t kCassetteUnknown = 254;

inline constexpr int kCassettes = 16;
inline constexpr int kFundsEntries = 24;

// One recycling cassette, or one funds entry of the card reader.
struct CassetteRecord {
    std::uint8_t status { kCassetteUnknown };
    std::uint8_t billCount { 0 };
    std::uint8_t billType { 0 };        // 0..23; 255 = none
    double value { 0.0 };
    std::uint8_t unloadThreshold { 0 };
    std::uint8_t unloadHour { 0 };
    std::uint8_t unloadMinute { 255 };  // 255 = no schedule
    std::int32_t transactionCount { 0 };
    double transactionValue { 0.0 };
    std::uint8_t unloadDue { 0 };
    std::uint8_t escrowMark { 0 };      // 1 for the cassette of type 24
    std::uint8_t decimalExponent { 0 }; // funds entries only
    std::string country;
};

} // namespace orvex
