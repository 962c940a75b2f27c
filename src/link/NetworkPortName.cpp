#include "link/NetworkPortName.h"

#include "link/ShownText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvex {

namespace {

constexpr std::string_view kRawPrefix = "tcp://";
constexpr std::string_view kRfc2217Prefix = "rfc2217://";

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::optional<NetworkPortName> Fail(std::string* why, std::string text)
{
    if (why != nullptr)
        *why = std::move(text);
    return std::nullopt;
}

} // namespace

bool IsNetworkPortName(std::string_view name)
{
    return StartsWith(name, kRawPrefix) || StartsWith(name, kRfc2217Prefix);
}

std::optional<NetworkPortName> ParseNetworkPortName(std::string_view name, std::string* why)
{
    NetworkPortName result;
    std::string_view rest;
    if (StartsWith(name, kRawPrefix)) {
        result.scheme = NetworkScheme::RawTcp;
        rest = name.substr(kRawPrefix.size());
    } else if (StartsWith(name, kRfc2217Prefix)) {
        result.scheme = NetworkScheme::Rfc2217;
        rest = name.substr(kRfc2217Prefix.size());
    } else {
        return Fail(why, "not a network port name (tcp://HOST:PORT or rfc2217://HOST:PORT)");
    }
    std::string_view host;
    std::string_view port;
    if (StartsWith(rest, "[")) {
        auto close = rest.find(']');
        if (close == std::string_view::npos)
            return Fail(why, "the IPv6 host has no closing ']'");
        host = rest.substr(1, close - 1);
        rest.remove_prefix(close + 1);
        if (!StartsWith(rest, ":"))
            return Fail(why, "a port number 1..65535 is missing after the host");
        port = rest.substr(1);
    } else {
        auto colon = rest.rfind(':');
        if (colon == std::string_view::npos)
            return Fail(why, "a port number 1..65535 is missing after the host");
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos)
            return Fail(why, "an IPv6 host is written in brackets, e.g. [::1]");
    }
    if (host.empty())
        return Fail(why, "the host is missing");
    auto isHostCharacter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'
            || c == ':' || c == '_' || c == '%';
    };
    if (!std::all_of(host.begin(), host.end(), isHostCharacter))
        return Fail(why, "the host " + ShownText(host) + " is not a host name or address");
    bool digits = !port.empty() && port.size() <= 5
        && std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoul(std::string(port)) == 0 || std::stoul(std::string(port)) > 65535)
        return Fail(why, "the port " + ShownText(port) + " is not a number 1..65535");
    result.host = std::string(host);
    result.port = std::string(port);
    return result;
}

std::string DescribeNetworkPortName(std::string_view name)
{
    std::string why;
    auto parsed = ParseNetworkPortName(name, &why);
    if (!parsed)
        return ShownText(name, "") + ": " + why;
    return std::string(parsed->scheme == NetworkScheme::RawTcp ? "raw TCP" : "RFC 2217") + " to " + parsed->host
        + " port " + parsed->port;
}

std::string DescribeNetworkError(std::string_view name, int error)
{
    std::string why;
    auto parsed = ParseNetworkPortName(name, &why);
    if (!parsed)
        return ShownText(name, "") + ": " + why;
    std::string text = ShownText(name, "") + ": ";
    std::string where = parsed->host + " port " + parsed->port;
    switch (error) {
    case EBUSY: return text + where + " is busy: another client is connected";
    case EHOSTUNREACH: return text + "cannot reach " + parsed->host + " (unknown or unreachable host)";
    case EPROTONOSUPPORT: return text + where + " does not offer the RFC 2217 COM-PORT-OPTION";
    case ETIMEDOUT: return text + "cannot connect to " + where + ": no answer in time";
    default: return text + "cannot connect to " + where + ": " + std::strerror(error);
    }
}

} // namespace orvex
