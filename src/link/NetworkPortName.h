#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// How a network line carries the bus: bytes as they are, or telnet with
// the COM-PORT-OPTION (RFC 2217) that also carries the line settings.
enum class NetworkScheme { RawTcp, Rfc2217 };

// A port name "tcp://HOST:PORT" or "rfc2217://HOST:PORT"; an IPv6 host is
// written in brackets ("tcp://[::1]:4000").
struct NetworkPortName {
    NetworkScheme scheme { NetworkScheme::RawTcp };
    std::string host;
    std::string port;
};

// True when the name asks for a network line (its scheme is one of ours),
// whether or not the rest of it is well formed.
bool IsNetworkPortName(std::string_view name);
// The parts of a network port name; on a malformed one, nothing, with
// `why` saying what is wrong ("a port number 1..65535 is missing").
std::optional<NetworkPortName> ParseNetworkPortName(std::string_view name, std::string* why = nullptr);
// For the window and orvexctl: "raw TCP to HOST port PORT" or "RFC 2217 to
// HOST port PORT", or "NAME: <what is wrong>".
std::string DescribeNetworkPortName(std::string_view name);
// Why a network line did not open, naming host, port and reason:
// "tcp://10.0.0.7:4001: cannot connect to 10.0.0.7 port 4001: Connection refused".
std::string DescribeNetworkError(std::string_view name, int error);

} // namespace orvex
