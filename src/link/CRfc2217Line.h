#pragma once

#include "link/CTcpLine.h"

#include <array>
#include <cstdint>
#include <vector>

namespace orvex {

// A serial line behind a telnet server with the COM-PORT-OPTION (RFC 2217,
// a ser2net "telnet(rfc2217)" port): the line settings go with the line,
// RTS moves through SET-CONTROL, purges through PURGE-DATA, and a 0xFF data
// byte travels doubled both ways.
class CRfc2217Line final : public CTcpLine {
public:
    // How long the server may take to confirm the line settings.
    static constexpr std::chrono::milliseconds kSettingsTimeout { 2000 };
    // How long a modem-line command waits for its confirmation, the first
    // time; a server that did not confirm it once is not waited for again.
    static constexpr std::chrono::milliseconds kModemTimeout { 250 };

    int Configure(const LineMode& mode) override;
    LineResult WriteAll(const std::uint8_t* buffer, int count, Deadline deadline) override;
    void Flush(FlushDirection direction) override;
    LineResult SetRts(RtsLevel level) override;

protected:
    void Take(const std::uint8_t* bytes, std::size_t count) override;
    int AfterConnect(Deadline deadline) override;

private:
    enum class DecodeState { Data, Command, Option, Subnegotiation, SubnegotiationCommand };

    void Negotiate(std::uint8_t verb, std::uint8_t option);
    void Subnegotiation();
    // Queues a COM-PORT-OPTION command with its value escaped.
    void QueueComPort(std::uint8_t command, const std::vector<std::uint8_t>& value);
    // Sends what was queued (negotiation answers, purges) before anything else.
    LineResult SendQueued(Deadline deadline);
    // Waits until the server's answer count for `command` passes `before`.
    LineResult WaitForAnswer(std::uint8_t command, unsigned before, Deadline deadline);

    DecodeState m_state { DecodeState::Data };
    std::uint8_t m_verb { 0 };
    std::vector<std::uint8_t> m_subnegotiation;
    std::vector<std::uint8_t> m_queued;
    std::array<bool, 256> m_remoteEnabled {};
    std::array<bool, 256> m_localEnabled {};
    bool m_comPortAccepted { false };
    bool m_comPortRefused { false };
    // Answers the server gave to each COM-PORT-OPTION command, counted.
    std::array<unsigned, 16> m_answers {};
    bool m_modemUnconfirmed { false };
};

} // namespace orvex
