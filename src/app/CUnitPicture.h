#pragma once

#include "app/CExchangeWatcher.h"
#include "protocol/BillTypeEntry.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace orvex {

// The Cyclor unit at a glance, without the toolkit: its three cassettes,
// the drop box, the dispenser and the session's totals of bills and money
// in and out. Built only from the exchanges the tools already make: GET
// CASSETTE STATUS gives the cassettes, the DISPENSE and UNLOAD requests
// what was asked, and the poll replies what happened (stacked, dispensed,
// unloaded). Fed by the exchange tap on any thread; read by the window.
class CUnitPicture : public CExchangeWatcher {
public:
    static constexpr int kShownCassettes = 3;

    struct Cassette {
        bool known { false };     // a cassette status reply has been seen
        bool present { false };
        bool full { false };
        bool escrow { false };    // bill type 24
        bool assigned { false };  // bill type 0..23
        int billType { 0 };
        int count { 0 };
        // Bills it holds when full: the status reply carries none, so it is
        // learned when the unit reports the cassette full, or set by the
        // technician; 0 = not known.
        int capacity { 0 };
        std::string billText;     // "10 RUS", "type 3", "escrow", "not assigned"
        std::string status;       // "OK", "FULL", "not present", "not assigned"
    };

    struct Snapshot {
        std::array<Cassette, kShownCassettes> cassettes {};
        int dropBox { 0 };         // bills put into the drop box this session
        int dispenser { 0 };       // bills waiting in the dispenser
        int billsIn { 0 };
        double moneyIn { 0 };
        int billsOut { 0 };
        double moneyOut { 0 };
        std::string currency;      // of the bill table's first used entry
    };

    void OnExchange(std::string_view name, std::span<const std::string> record, Clock::time_point when) override;
    void SetBillTable(const std::array<BillTypeEntry, kBillTypes>& table);
    // Cassette 0..2; 0 forgets it.
    void SetCapacity(int cassette, int capacity);
    Snapshot Take() const;
    // The session's totals start again from 0; the cassettes stay.
    void ResetTotals();

    // "10 RUS", or "type N" without a bill table entry.
    static std::string BillText(const std::array<BillTypeEntry, kBillTypes>& table, int billType);
    // "%g" of the amount followed by the currency, when there is one.
    static std::string MoneyText(double amount, const std::string& currency);

private:
    struct Request {
        int billType;
        int count;
    };

    void OnCassetteStatus(std::span<const std::string> record);
    void OnPoll(std::span<const std::string> record);
    double Value(int billType) const;
    Cassette* CassetteOfType(int billType);
    void Describe(Cassette& cassette) const;

    // Guards everything below.
    mutable std::mutex m_mutex;
    Snapshot m_snapshot;
    std::array<BillTypeEntry, kBillTypes> m_billTable {};
    std::vector<Request> m_pendingDispense;
    int m_pendingUnloadCassette { -1 };
    int m_pendingUnloadCount { 0 };
};

} // namespace orvex
