#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace orvex::test {

// The unprivileged account the tools are run as in tests: an ordinary user
// in the dialout group, as a technician is. Created (by root) on first use.
struct TechnicianAccount {
    uid_t uid;
    gid_t gid;
    gid_t dialout;
};

inline constexpr const char* kTechnician = "orvex-technician";
// The exit status of a child that could not become the technician.
inline constexpr int kCouldNotStart = 77;

// Root only; false (with the reason) when the account cannot be had.
bool EnsureTechnician(TechnicianAccount& account, std::string& reason);

// Runs this test program again as the technician, with only `filter` and
// the given environment ("NAME=value"); waits at most `limit` and stops a
// child still running then by its own id. The child's exit status, or -1.
int RunSelfAsTechnician(const TechnicianAccount& account, const std::string& filter,
    std::vector<std::string> environment, std::chrono::seconds limit);

} // namespace orvex::test
