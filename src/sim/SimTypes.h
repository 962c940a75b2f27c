#pragma once

#include "link/WireVocabulary.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

// Which unit the virtual peripheral plays on the bus.
enum class SimDeviceKind { Cyclor, Validator };

// One entry of the simulated bill table: value = digits x 10^exponent.
struct SimBill {
    std::uint8_t digits { 0 };
    int exponent { 0 };           // -127 .. 127
    std::string country;          // three letters
    double Value() const;
    std::string ValueText() const; // "5", "0.5", "100"
};

inline constexpr int kSimBillTypes = 24;
inline constexpr int kSimCassettes = 3;
inline constexpr int kSimCouponType = wire::kBarcodeCoupon;
inline constexpr int kSimEscrowCassetteType = wire::kEscrowBillType;
inline constexpr int kSimUnassignedType = wire::kUnassignedBillType;
// EXTENDED CASSETTE STATUS lists one byte per bill and must stay a short frame.
inline constexpr int kSimMaxCapacity = 249;

struct SimCassetteSetup {
    int type { kSimUnassignedType }; // bill type 0..23, 24 escrow, 31 none
    int count { 0 };
    int capacity { 100 };
};

struct SimOptions {
    SimDeviceKind device { SimDeviceKind::Cyclor };
    bool cardReader { false };
    // "CUR:V1,V2,..."; types 0.. in order, type 23 is the barcode coupon.
    std::string bills { "USD:1,2,5,10,20,50,100" };
    // Scales every transition time; 1.0 is a human pace.
    double pace { 1.0 };
    double clockOffsetHours { 0.0 };
    // A bill left in escrow this long is returned; 0 keeps it until PACK,
    // RETURN or a reset. Real seconds: the pace does not shorten the time
    // a host has to decide.
    double escrowTimeoutSeconds { 10.0 };
    // Bills presented by the dispenser are taken by themselves after this
    // many seconds times the pace; 0 waits for "take".
    double takeTimeoutSeconds { 5.0 };
    std::array<SimCassetteSetup, kSimCassettes> cassettes { {
        { 0, 10, 100 }, { 1, 10, 100 }, { 2, 10, 100 } } };
    unsigned seed { 1 };
};

// Parses "CUR:V1,V2,...". Empty error text on success.
std::vector<SimBill> ParseBillTable(const std::string& text, std::string& error);

struct SimCassetteState {
    int type { kSimUnassignedType };
    int count { 0 };
    int capacity { 0 };
    bool full { false };
};

// Where every bill is. Conservation: initial + inserted ==
// cassettes + dropBox + returned + dispensed + inChannel + inDispenser.
struct SimLedger {
    std::array<SimCassetteState, kSimCassettes> cassettes {};
    long dropBox { 0 };
    long returned { 0 };
    long dispensed { 0 };
    long inserted { 0 };
    long initial { 0 };     // bills in the unit when it started
    long inChannel { 0 };   // accepting, escrow, stacking, returning or rejecting
    long inDispenser { 0 }; // moved to the dispenser, not yet taken
    long unloaded { 0 };    // moved from cassettes to the drop box by UNLOAD
    long CassetteTotal() const;
    bool Balanced() const;
};

struct SimSnapshot {
    std::uint8_t state { 0 };      // what the next POLL would report
    std::uint8_t subState { 0 };
    std::string stateName;
    SimLedger ledger;
    std::uint32_t enableMask { 0 };
    std::uint32_t escrowMask { 0 };
    bool boxRemoved { false };
    bool silent { false };
    std::uint8_t recoveryState { 0 }; // pending power-recovery record
    std::uint8_t readerState { 0 };
    std::uint64_t framesReceived { 0 };     // well-formed frames for a device we play
    std::uint64_t exchangesAnswered { 0 };  // commands answered with a frame (or noise)
    std::uint64_t framesSkipped { 0 };      // frames for a device we do not play
    std::uint64_t noiseBytes { 0 };         // bytes skipped as noise, damage or truncation
};

} // namespace orvex
