#include "link/CLineTap.h"

#include <ctime>

namespace orvex {

std::int64_t WallClockNanoseconds()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

} // namespace orvex
