#pragma once

#include "support/PtyPeer.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace orvex::test {

// A scripted bus behind the pty peer: every address answers POLL with its
// current state (or the next of a queue of states), any command with a
// handler of its own, and everything else with an ACK.
class FakeBus {
public:
    struct PollState {
        std::uint8_t state { 0x14 };
        std::uint8_t subState { 0 };
        std::uint8_t third { 0 };
    };
    // Reply data for a command frame; empty means the unit stays silent.
    using Handler = std::function<Bytes(const Bytes& frame)>;

    void SetState(std::uint8_t address, PollState state);
    void SetState(std::uint8_t address, std::uint8_t state, std::uint8_t subState = 0)
    {
        SetState(address, PollState { state, subState, 0 });
    }
    // The next POLLs answer these, one each; then the last one stays.
    void QueueStates(std::uint8_t address, std::vector<PollState> states);
    void On(std::uint8_t address, std::uint8_t code, Handler handler);
    // ACK the command and move the unit to a new state.
    void AckThen(std::uint8_t address, std::uint8_t code, std::uint8_t state, std::uint8_t subState = 0);
    void SetSilent(std::uint8_t address, bool silent);

    PtyPeer::Responder Responder();

private:
    struct Unit {
        PollState current;
        std::deque<PollState> queued;
        std::map<std::uint8_t, Handler> handlers;
        bool silent { false };
    };
    PeerReply Answer(const Bytes& frame);

    std::mutex m_mutex; // guards m_units
    std::map<std::uint8_t, Unit> m_units;
};

// Command codes the host sent to an address, ACK and NAK left out.
std::vector<std::uint8_t> CodesTo(const PtyPeer& peer, std::uint8_t address, bool withPolls = true);
int CountCode(const PtyPeer& peer, std::uint8_t address, std::uint8_t code);

} // namespace orvex::test
