#include "link/LocalTime.h"

#include <mutex>

namespace orvex {

namespace {

std::mutex& ZoneLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

bool ToLocalTime(std::time_t time, std::tm& local)
{
    std::lock_guard<std::mutex> hold(ZoneLock());
    return localtime_r(&time, &local) != nullptr;
}

bool FromLocalTime(const std::tm& fields, std::time_t& time)
{
    std::tm normalised = fields;
    normalised.tm_isdst = -1;
    std::time_t converted;
    {
        std::lock_guard<std::mutex> hold(ZoneLock());
        converted = std::mktime(&normalised);
    }
    if (converted == static_cast<std::time_t>(-1))
        return false;
    if (normalised.tm_sec != fields.tm_sec || normalised.tm_min != fields.tm_min
        || normalised.tm_hour != fields.tm_hour || normalised.tm_mday != fields.tm_mday
        || normalised.tm_mon != fields.tm_mon || normalised.tm_year != fields.tm_year)
        return false;
    time = converted;
    return true;
}

} // namespace orvex
