#pragma once

#include <string>
#include <string_view>

namespace orvex {

// Options of our own on a benchmark program's command line ("--polls=1000"),
// taken out of argv before Google Benchmark sees the rest.
class CBenchOptions {
public:
    CBenchOptions(int& argc, char** argv);

    // The value of --name=VALUE, or `fallback` when it was not given.
    std::string Text(std::string_view name, std::string fallback) const;
    // The same as a number; a value that is not one counts as not given.
    long long Number(std::string_view name, long long fallback) const;

private:
    std::string m_given; // "\n--name=value" per option taken
};

} // namespace orvex
