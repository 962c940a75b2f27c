#pragma once

#include "link/Bcd.h"
#include "sim/SimTypes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// Byte fields of the unit's frames and records, its BCD clock and the
// saturating statistics counters, shared by CSimDevice's parts.
namespace orvex::simfields {

// Bits 0..23 are bill types; the masks travel as 24-bit words.
inline constexpr std::uint32_t kMask24 = 0xFFFFFF;

inline std::uint32_t Read24(const SimBytes& frame, std::size_t at)
{
    return static_cast<std::uint32_t>(frame[at] << 16 | frame[at + 1] << 8 | frame[at + 2]);
}

inline std::uint32_t Read32(const SimBytes& frame, std::size_t at)
{
    return static_cast<std::uint32_t>(frame[at]) << 24 | static_cast<std::uint32_t>(frame[at + 1]) << 16
        | static_cast<std::uint32_t>(frame[at + 2]) << 8 | frame[at + 3];
}

inline void Append24(std::vector<std::uint8_t>& data, std::uint32_t value)
{
    data.push_back(static_cast<std::uint8_t>(value >> 16));
    data.push_back(static_cast<std::uint8_t>(value >> 8));
    data.push_back(static_cast<std::uint8_t>(value));
}

inline void Append32(std::vector<std::uint8_t>& data, std::uint32_t value)
{
    data.push_back(static_cast<std::uint8_t>(value >> 24));
    Append24(data, value & kMask24);
}

// A text field of fixed width, zero-padded, at `offset` of a reply frame.
inline void PutText(std::vector<std::uint8_t>& data, std::size_t offset, std::size_t width, const char* text)
{
    std::size_t at = offset - 3;
    if (data.size() < at + width)
        data.resize(at + width, 0);
    std::size_t length = std::min(width, std::strlen(text));
    std::memcpy(data.data() + at, text, length);
}

inline void PutLittle16(std::vector<std::uint8_t>& record, std::size_t at, std::uint16_t value)
{
    record[at] = static_cast<std::uint8_t>(value & 0xFF);
    record[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// A clock field in packed BCD that must lie within low..high.
inline bool FromBcd(std::uint8_t byte, int low, int high, int& value)
{
    return orvex::FromBcd(byte, value) && value >= low && value <= high;
}

// Civil dates from days since 1970-01-01 and back (proleptic Gregorian).
inline std::int64_t DaysFromCivil(int year, int month, int day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

inline void CivilFromDays(std::int64_t days, int& year, int& month, int& day)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthPart = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthPart + 2) / 5 + 1);
    month = static_cast<int>(monthPart < 10 ? monthPart + 3 : monthPart - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2));
}

inline void Count(std::uint8_t& counter)
{
    if (counter < 0xFF)
        ++counter;
}

inline void Count(std::uint16_t& counter)
{
    if (counter < 0xFFFF)
        ++counter;
}

} // namespace orvex::simfields
