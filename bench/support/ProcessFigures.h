#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace orvex {

// What the benchmarks read about their own process, from /proc/self and
// the clocks, so that every figure is taken the same way.

// Resident set in bytes (second field of /proc/self/statm).
std::int64_t ResidentBytes();
// Entries of /proc/self/fd, the directory's own descriptor not counted.
int OpenDescriptors();
// Entries of /proc/self/task.
int ThreadCount();
// CPU time of the calling thread, and of the whole process.
std::chrono::nanoseconds ThreadCpuTime();
std::chrono::nanoseconds ProcessCpuTime();
// Voluntary plus involuntary context switches of the calling thread: how
// often it went to sleep or was put to sleep.
std::int64_t ThreadContextSwitches();

// The value below which `fraction` of the samples lie (nearest rank).
double Percentile(std::vector<double> samples, double fraction);
double Mean(const std::vector<double>& samples);

// Line time of `bytes` bytes at `baud`, 8N1 (ten bits a byte), in µs.
constexpr double WireMicroseconds(int bytes, int baud)
{
    return bytes * 10.0 * 1e6 / baud;
}

} // namespace orvex
