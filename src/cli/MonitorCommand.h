#pragma once

#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

namespace orvex {

// orvexctl monitor, relay and decode: the whole command line in, the exit
// status out (0 success, 1 failure, 2 usage error). `stop` is set by
// SIGINT and SIGTERM while monitor and relay run.
int RunWireCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, std::atomic<int>& stop);

} // namespace orvex
