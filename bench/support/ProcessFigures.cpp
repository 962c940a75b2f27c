#include "support/ProcessFigures.h"

#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <numeric>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace orvex {

namespace {

int CountEntries(const char* path)
{
    DIR* directory = opendir(path);
    if (!directory)
        return -1;
    int count = 0;
    while (dirent* entry = readdir(directory))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(directory);
    return count;
}

std::chrono::nanoseconds ClockTime(clockid_t clock)
{
    timespec now {};
    clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace

std::int64_t ResidentBytes()
{
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (!file)
        return -1;
    long long size = 0;
    long long resident = 0;
    int fields = std::fscanf(file, "%lld %lld", &size, &resident);
    std::fclose(file);
    if (fields != 2)
        return -1;
    return resident * sysconf(_SC_PAGESIZE);
}

int OpenDescriptors()
{
    // opendir holds one descriptor of its own while it counts.
    int count = CountEntries("/proc/self/fd");
    return count < 0 ? count : count - 1;
}

int ThreadCount()
{
    return CountEntries("/proc/self/task");
}

std::chrono::nanoseconds ThreadCpuTime()
{
    return ClockTime(CLOCK_THREAD_CPUTIME_ID);
}

std::chrono::nanoseconds ProcessCpuTime()
{
    return ClockTime(CLOCK_PROCESS_CPUTIME_ID);
}

std::int64_t ThreadContextSwitches()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

double Percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(samples.size())));
    rank = std::clamp<std::size_t>(rank, 1, samples.size());
    return samples[rank - 1];
}

double Mean(const std::vector<double>& samples)
{
    if (samples.empty())
        return 0.0;
    return std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
}

} // namespace orvex
