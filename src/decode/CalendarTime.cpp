#include "decode/Decoders.h"

#include <ctime>

namespace orvex {

int FromBcd(std::uint8_t value)
{
    return (value >> 4) * 10 + (value & 0x0F);
}

bool FormatCalendarTime(int year, int month, int day, int hours, int minutes, int seconds, std::string& text)
{
    std::tm fields {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hours;
    fields.tm_min = minutes;
    fields.tm_sec = seconds;
    fields.tm_isdst = -1;
    std::tm normalised = fields;
    if (std::mktime(&normalised) == static_cast<std::time_t>(-1))
        return false;
    // mktime rolls impossible values over (month 13 becomes January of the
    // next year); anything it changed was not a valid time.
    if (normalised.tm_year != fields.tm_year || normalised.tm_mon != fields.tm_mon
        || normalised.tm_mday != fields.tm_mday || normalised.tm_hour != fields.tm_hour
        || normalised.tm_min != fields.tm_min || normalised.tm_sec != fields.tm_sec)
        return false;
    // The month/day/two-digit-year form the C locale's "%c" printed on the
    // original platform; glibc's "%c" is another.
    char buffer[32];
    std::size_t length = std::strftime(buffer, sizeof buffer, "%m/%d/%y %H:%M:%S", &normalised);
    text.assign(buffer, length);
    return true;
}

} // namespace orvex
