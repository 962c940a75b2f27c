#pragma once

#include "link/CheckCode.h"
#include "sim/CSimDevice.h"
#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace orvex::test {

// The simulated unit under a test's own clock: frames in, replies out,
// time moved by hand.
class SimHarness {
public:
    using Clock = CSimDevice::Clock;

    explicit SimHarness(SimOptions options = FastOptions())
        : now(Clock::time_point {} + std::chrono::hours(1))
        , device(options, now)
    {
    }

    static SimOptions FastOptions()
    {
        SimOptions options;
        options.pace = 0.01;
        options.escrowTimeoutSeconds = 10;
        options.takeTimeoutSeconds = 0; // wait for "take"
        return options;
    }

    // The reply to one command (code and parameters) to `address`.
    Bytes Send(std::uint8_t address, Bytes data)
    {
        return device.HandleFrame(MakeFrame(address, data), now);
    }
    Bytes Send(Bytes data) { return Send(Address(), std::move(data)); }

    std::uint8_t Address() const { return device.PlaysAddress(1) ? 1 : 3; }

    // POLL; the state byte (0 when nothing came back).
    std::uint8_t Poll()
    {
        last = Send({ 0x33 });
        return last.size() >= 6 ? last[3] : 0;
    }
    // The byte after the state in the last POLL reply (0 when none).
    std::uint8_t Detail(int index = 0) const
    {
        std::size_t at = 4 + static_cast<std::size_t>(index);
        return last.size() >= 6 && at < last.size() - 2 ? last[at] : 0;
    }

    void Wait(int milliseconds) { now += std::chrono::milliseconds(milliseconds); }

    // Polls every `step` ms until the state shows, at most `limit` polls.
    bool PollUntil(std::uint8_t state, int step = 20, int limit = 500)
    {
        for (int turn = 0; turn < limit; ++turn) {
            if (Poll() == state)
                return true;
            Wait(step);
        }
        return false;
    }

    // States seen while polling until `state`, each change once.
    std::vector<std::uint8_t> TraceUntil(std::uint8_t state, int step = 20, int limit = 500)
    {
        std::vector<std::uint8_t> seen;
        for (int turn = 0; turn < limit; ++turn) {
            std::uint8_t got = Poll();
            if (seen.empty() || seen.back() != got)
                seen.push_back(got);
            if (got == state)
                break;
            Wait(step);
        }
        return seen;
    }

    std::string Control(const std::string& line)
    {
        SimControlParse parse = ParseControlLine(line);
        if (!parse.ok)
            return parse.error;
        return device.Control(parse.command, now);
    }

    SimLedger Ledger() { return device.Snapshot(now).ledger; }

    // RESET, then BILL TYPE with both masks, until IDLING or DISABLED.
    void Ready(std::uint32_t enable = 0x7F, std::uint32_t escrow = 0x7F)
    {
        ASSERT_EQ(Send({ 0x30 }), MakeFrame(Address(), { 0x00 }));
        ASSERT_TRUE(PollUntil(0x19));
        Send({ 0x34, std::uint8_t(enable >> 16), std::uint8_t(enable >> 8), std::uint8_t(enable), std::uint8_t(escrow >> 16),
            std::uint8_t(escrow >> 8), std::uint8_t(escrow) });
        ASSERT_EQ(Poll(), enable ? 0x14 : 0x19);
    }

    static bool IsAck(const Bytes& reply) { return reply.size() == 6 && reply[3] == 0x00; }
    static bool IsInvalid(const Bytes& reply) { return reply.size() == 6 && reply[3] == 0x30; }
    static bool CheckCodeHolds(const Bytes& reply)
    {
        if (reply.size() < 6)
            return false;
        std::uint16_t code = CheckCodeOver(reply.data(), reply.size() - 2);
        return reply[reply.size() - 2] == (code & 0xFF) && reply[reply.size() - 1] == (code >> 8);
    }

    Clock::time_point now;
    CSimDevice device;
    Bytes last;
};

} // namespace orvex::test
