#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvex {

// The exchanges of a capture as a script for orvex-sim --replay: each
// command the host sends is answered with the reply recorded after the
// same command (nothing, where the recording timed out), in the order of
// the recording. Where the host's traffic departs from it, Answer says so.
class CReplayScript {
public:
    // False with `error` naming the file and what is wrong with it.
    bool Load(const std::string& path, std::string& error);
    std::size_t Size() const { return m_exchanges.size(); }

    // The recorded reply to `command` (empty for none). `note` is set when
    // the host departs from the recording: where, what it sent, what the
    // recording has there.
    std::vector<std::uint8_t> Answer(std::span<const std::uint8_t> command, std::string& note);

    struct Recorded {
        std::vector<std::uint8_t> command;
        std::vector<std::uint8_t> reply;
        std::string name;
    };
    void Add(Recorded exchange) { m_exchanges.push_back(std::move(exchange)); }

private:
    std::vector<Recorded> m_exchanges;
    std::size_t m_next { 0 };
};

} // namespace orvex
