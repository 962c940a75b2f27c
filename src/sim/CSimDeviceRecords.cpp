#include "sim/CSimDevice.h"

#include "sim/SimFields.h"
#include "sim/SimTimings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvex {

using namespace simfields;

// ---- Data replies ------------------------------------------------------

std::vector<std::uint8_t> CSimDevice::Identification(bool extended) const
{
    std::vector<std::uint8_t> data;
    std::string currency = m_bills.empty() ? "USD" : m_bills[0].country;
    std::string part = (m_cyclor ? "CY-300-" : "BV-24-") + currency;
    PutText(data, 3, 15, part.c_str());
    PutText(data, 18, 12, m_cyclor ? "CY0012345678" : "BV0098765432");
    // Asset number, seven bytes, high byte first.
    const std::uint8_t asset[7] = { 0x00, 0x00, 0x00, 0x12, 0xD6, 0x87, m_cyclor ? std::uint8_t(0x01) : std::uint8_t(0x03) };
    data.insert(data.end(), asset, asset + 7);
    if (!extended)
        return data; // 34 bytes: the short form, length 0x27
    PutText(data, 37, 1, "");
    PutText(data, 38, 6, "1.02");
    PutText(data, 44, 20, "BV24 2.31.07");
    PutText(data, 64, 6, "1.00");
    PutText(data, 70, 6, "3.14");
    PutText(data, 76, 6, "1.01");
    PutText(data, 82, 6, "2.05");
    PutText(data, 88, 6, "1.00");
    PutText(data, 94, 6, "1.00");
    PutText(data, 100, 6, "1.00");
    PutText(data, 106, 6, "1.12");
    return data; // every field whole: length 114
}

std::vector<std::uint8_t> CSimDevice::StatisticsData() const
{
    // Offsets below are those of the frame; the data start at offset 5.
    constexpr std::size_t kBase = 5;
    std::string currency = m_bills.empty() ? "USD" : m_bills[0].country;
    std::vector<std::uint8_t> record(4341 - kBase + currency.size() + 1, 0);
    auto at = [&](std::size_t offset) { return offset - kBase; };
    std::memcpy(&record[at(5)], currency.data(), std::min<std::size_t>(3, currency.size()));
    int denominations = 0;
    for (const SimBill& bill : m_bills)
        if (bill.digits != 0)
            ++denominations;
    record[at(8)] = static_cast<std::uint8_t>(denominations);
    record[at(9)] = 1;
    PutLittle16(record, at(10), 2024);
    record[at(12)] = 1;
    record[at(13)] = 15;
    record[at(14)] = 8;
    record[at(15)] = 30;
    record[at(16)] = 0;
    const char* serial = m_cyclor ? "CY0012345678" : "BV0098765432";
    std::memcpy(&record[at(18)], serial, 12);
    // What happened since start is counted in block 0; the other fifteen
    // blocks hold earlier periods, empty on a new unit.
    std::size_t block = at(37);
    PutLittle16(record, block + 0, m_statistics.inserted);
    for (std::size_t d = 0; d < 20; ++d) {
        PutLittle16(record, block + 2 + 2 * d, m_statistics.accepted[d]);
        PutLittle16(record, block + 42 + 2 * d, m_statistics.returnedOptic[d]);
        PutLittle16(record, block + 82 + 2 * d, m_statistics.returnedMagnetic[d]);
        PutLittle16(record, block + 122 + 2 * d, m_statistics.returnedCapacity[d]);
    }
    PutLittle16(record, block + 162, m_statistics.unrecognized);
    PutLittle16(record, block + 164, m_statistics.returnedLength);
    for (std::size_t f = 0; f < m_statistics.failures.size(); ++f)
        record[block + 166 + f] = m_statistics.failures[f];
    for (std::size_t d = 0; d < 20 && d < m_bills.size(); ++d) {
        const SimBill& bill = m_bills[d];
        std::size_t denomination = at(4241 + 5 * d);
        // Only whole values of up to 63 digits fit a denomination record;
        // issue 2 carries no "Old"/"New" text.
        if (bill.digits == 0 || bill.digits > 63 || bill.exponent < 0)
            continue;
        record[denomination] = static_cast<std::uint8_t>(bill.digits | 0x80);
        std::memcpy(&record[denomination + 1], bill.country.data(), std::min<std::size_t>(3, bill.country.size()));
        record[denomination + 4] = static_cast<std::uint8_t>(bill.exponent);
    }
    std::memcpy(&record[at(4341)], currency.data(), currency.size());
    return record;
}

std::vector<std::uint8_t> CSimDevice::ClockData() const
{
    std::int64_t local = static_cast<std::int64_t>(std::time(nullptr)) + m_clockOffset;
    std::int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    std::int64_t second = local - days * 86400;
    int year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(days, year, month, day);
    int weekday = static_cast<int>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday; 0 = Sunday
    return { ToBcd(static_cast<int>(second % 60)), ToBcd(static_cast<int>(second / 60 % 60)), ToBcd(static_cast<int>(second / 3600)),
        static_cast<std::uint8_t>(weekday + 1), ToBcd(day), ToBcd(month), ToBcd(year % 100) };
}

std::vector<std::uint8_t> CSimDevice::SetClock(const SimBytes& frame)
{
    if (frame.size() != 13)
        return Invalid();
    int second = 0;
    int minute = 0;
    int hour = 0;
    int day = 0;
    int month = 0;
    int year = 0;
    if (!FromBcd(frame[4], 0, 59, second) || !FromBcd(frame[5], 0, 59, minute) || !FromBcd(frame[6], 0, 23, hour)
        || frame[7] < 1 || frame[7] > 7 || !FromBcd(frame[8], 1, 31, day) || !FromBcd(frame[9], 1, 12, month)
        || !FromBcd(frame[10], 0, 99, year))
        return Invalid();
    year += 2000;
    int checkYear = 0;
    int checkMonth = 0;
    int checkDay = 0;
    std::int64_t days = DaysFromCivil(year, month, day);
    CivilFromDays(days, checkYear, checkMonth, checkDay);
    if (checkMonth != month || checkDay != day)
        return Invalid(); // 31 April and the like
    std::int64_t local = days * 86400 + hour * 3600 + minute * 60 + second;
    m_clockOffset = local - static_cast<std::int64_t>(std::time(nullptr));
    return Ack();
}

std::vector<std::uint8_t> CSimDevice::PowerRecovery()
{
    // Told once: a second read must not credit the same bills again.
    std::vector<std::uint8_t> record = m_recovery.empty() ? std::vector<std::uint8_t> { wire::kNoPowerCut } : m_recovery;
    m_recovery.clear();
    return record;
}

std::vector<std::uint8_t> CSimDevice::Diagnostic(const SimBytes& frame, Clock::time_point now)
{
    if (frame.size() < 7)
        return Invalid();
    std::uint8_t sub = frame[4];
    switch (sub) {
    case wire::kDiagnosticStatusRequest: {
        if (m_testCode == 0)
            return { wire::kDiagnosticReady };
        if (now < m_testDone)
            return { wire::kDiagnosticRunning };
        std::vector<std::uint8_t> data { m_testCode };
        std::uint64_t result = 0;
        int width = 2;
        if (m_testCode == wire::kDiagnosticSensorState || m_testCode == wire::kDiagnosticTestValidator)
            width = 6;
        if (m_testCode == wire::kDiagnosticSensorState) {
            bool inHead = m_ledger.inChannel > 0 && m_phase != SimPhase::Stacking;
            if (inHead)
                result |= 1ull << 8; // validating head input sensor
            if (m_ledger.inChannel > 0 && m_phase == SimPhase::Stacking)
                result |= 1ull << 17; // central sensor of the upper tract
            if (m_ledger.inDispenser > 0)
                result |= 1ull << 28; // dispenser exit sensor
        } else if (m_testCode == wire::kDiagnosticTestValidator) {
            if (m_failure == wire::kJamInAcceptor)
                result |= 1ull << 41; // transport mechanism
            if (m_failure == wire::kJamInStacker)
                result |= 1ull << 45; // stacking platform position sensor
        }
        for (int byte = width - 1; byte >= 0; --byte)
            data.push_back(static_cast<std::uint8_t>(result >> (8 * byte)));
        return data;
    }
    case wire::kDiagnosticIdentificationRequest: {
        const char texts[] = "ORVEX\0Cyclor CY-300\0" "2.07.14";
        return std::vector<std::uint8_t>(texts, texts + sizeof texts);
    }
    case wire::kDiagnosticSupportedFunctions:
        return { wire::kDiagnosticStatusRequest, wire::kDiagnosticIdentificationRequest, wire::kDiagnosticSupportedFunctions,
            wire::kDiagnosticSensorState, wire::kDiagnosticTestValidator, wire::kDiagnosticTestCassette,
            wire::kDiagnosticTestDispenser, wire::kDiagnosticTestSwitch, wire::kDiagnosticTestChassis,
            wire::kDiagnosticTestCommunication };
    case wire::kDiagnosticTestCassette:
        if (frame.size() < 8 || frame[5] < 1 || frame[5] > kSimCassettes)
            return Invalid();
        m_testCassette = frame[5];
        [[fallthrough]];
    case wire::kDiagnosticSensorState:
    case wire::kDiagnosticTestValidator:
    case wire::kDiagnosticTestDispenser:
    case wire::kDiagnosticTestSwitch:
    case wire::kDiagnosticTestChassis:
    case wire::kDiagnosticTestCommunication:
        m_testCode = sub;
        m_testDone = now + Scaled(kDiagnosticTestMs);
        return Ack();
    default:
        return Invalid();
    }
}

} // namespace orvex
