#include "decode/Decoders.h"

#include "link/LocalTime.h"

#include <ctime>

namespace orvex {

bool FormatCalendarTime(int year, int month, int day, int hours, int minutes, int seconds, std::string& text)
{
    std::tm fields {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hours;
    fields.tm_min = minutes;
    fields.tm_sec = seconds;
    std::time_t time;
    if (!FromLocalTime(fields, time))
        return false;
    // The month/day/two-digit-year form the C locale's "%c" printed on the
    // original platform; glibc's "%c" is another.
    char buffer[32];
    std::size_t length = std::strftime(buffer, sizeof buffer, "%m/%d/%y %H:%M:%S", &fields);
    text.assign(buffer, length);
    return true;
}

} // namespace orvex
