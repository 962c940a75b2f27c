#pragma once

#include <ctime>

namespace orvex {

// Every conversion between a time and local calendar fields goes through
// these two. The C library keeps the time zone in process-wide state that
// mktime rewrites on every call; its own lock is invisible to the thread
// checker, so the engine thread and the operator's thread converting at
// once looked like a race. One lock here makes the order plain.

// The local calendar fields of a time; false when the C library cannot
// represent it.
bool ToLocalTime(std::time_t time, std::tm& local);

// The time of local calendar fields (tm_isdst is worked out). False when the
// fields are no real local time: mktime rolls 30 February over into March and
// hour 24 into the next day, and a field it had to move was not valid.
bool FromLocalTime(const std::tm& fields, std::time_t& time);

} // namespace orvex
