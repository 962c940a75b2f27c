#pragma once

#include <cstdint>
#include <string>

namespace orvex {

// One of the 24 bill types of the device's bill table.
struct BillTypeEntry {
    float value { 0.0f };      // face value in currency units; 0 = unused
    std::string country;       // three-letter code from BILL TABLE
    std::uint8_t routed { 0 }; // bit n of the routed-bills status word
};

inline constexpr int kBillTypes = 24;

} // namespace orvex
