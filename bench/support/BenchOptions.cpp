#include "support/BenchOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orvex {

namespace {

// The options this project's benchmarks know; Google Benchmark's own all
// begin with --benchmark_.
constexpr const char* kKnown[] = { "--exchanges=", "--polls=", "--interval-ms=", "--sim=", "--ctl=", "--short-seconds=", "--long-seconds=" };

bool IsOurs(const char* argument)
{
    for (const char* prefix : kKnown)
        if (std::strncmp(argument, prefix, std::strlen(prefix)) == 0)
            return true;
    return false;
}

} // namespace

CBenchOptions::CBenchOptions(int& argc, char** argv)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (IsOurs(argv[i]))
            m_given += std::string("\n") + argv[i];
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
}

std::string CBenchOptions::Text(std::string_view name, std::string fallback) const
{
    std::string key = "\n--" + std::string(name) + "=";
    // The last one given wins.
    auto at = m_given.rfind(key);
    if (at == std::string::npos)
        return fallback;
    auto start = at + key.size();
    auto end = m_given.find('\n', start);
    return m_given.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

long long CBenchOptions::Number(std::string_view name, long long fallback) const
{
    std::string text = Text(name, "");
    if (text.empty())
        return fallback;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return fallback;
    return value;
}

} // namespace orvex
