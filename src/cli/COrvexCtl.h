#pragma once

#include "cli/CliArguments.h"

#include <atomic>
#include <iosfwd>
#include <string>

namespace orvex {

// Runs one orvexctl invocation: log lines to `out`, messages and result
// lines to `err`. Exit status 0 success, 1 failure, 2 usage error.
class COrvexCtl {
public:
    static constexpr int kSucceeded = 0;
    static constexpr int kFailed = 1;
    static constexpr int kUsage = 2;

    COrvexCtl(std::ostream& out, std::ostream& err, std::istream& in);

    // Set (from a signal handler) to end polling as unchecking the box does.
    static std::atomic<int>& InterruptFlag();

    int Run(const std::vector<std::string>& arguments);
    int Run(const CliOptions& options);

private:
    int RunPorts(const CliOptions& options);
    int RunSearch(const CliOptions& options);
    int RunSession(const CliOptions& options);

    std::ostream& m_out;
    std::ostream& m_err;
    std::istream& m_in;
};

} // namespace orvex
