#include "FakeBus.h"

#include <algorithm>

namespace orvex::test {

void FakeBus::SetState(std::uint8_t address, PollState state)
{
    std::lock_guard lock(m_mutex);
    Unit& unit = m_units[address];
    unit.current = state;
    unit.queued.clear();
}

void FakeBus::QueueStates(std::uint8_t address, std::vector<PollState> states)
{
    std::lock_guard lock(m_mutex);
    Unit& unit = m_units[address];
    unit.queued.assign(states.begin(), states.end());
}

void FakeBus::On(std::uint8_t address, std::uint8_t code, Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_units[address].handlers[code] = std::move(handler);
}

void FakeBus::AckThen(std::uint8_t address, std::uint8_t code, std::uint8_t state, std::uint8_t subState)
{
    On(address, code, [this, address, state, subState](const Bytes&) {
        SetState(address, state, subState);
        return Bytes { 0x00 };
    });
}

void FakeBus::SetSilent(std::uint8_t address, bool silent)
{
    std::lock_guard lock(m_mutex);
    m_units[address].silent = silent;
}

PtyPeer::Responder FakeBus::Responder()
{
    return [this](const Bytes& frame) { return Answer(frame); };
}

PeerReply FakeBus::Answer(const Bytes& frame)
{
    if (frame.size() < 6 || (frame.size() == 6 && (frame[3] == 0x00 || frame[3] == 0xFF)))
        return {};
    std::uint8_t address = frame[1];
    std::uint8_t code = frame[3];
    Handler handler;
    Bytes data;
    {
        std::lock_guard lock(m_mutex);
        Unit& unit = m_units[address];
        if (unit.silent)
            return {};
        auto found = unit.handlers.find(code);
        if (found != unit.handlers.end()) {
            handler = found->second;
        } else if (code == 0x33) {
            if (!unit.queued.empty()) {
                unit.current = unit.queued.front();
                unit.queued.pop_front();
            }
            data = { unit.current.state, unit.current.subState, unit.current.third };
        } else {
            data = { 0x00 };
        }
    }
    if (handler)
        data = handler(frame);
    if (data.empty())
        return {};
    return { MakeFrame(address, data) };
}

std::vector<std::uint8_t> CodesTo(const PtyPeer& peer, std::uint8_t address, bool withPolls)
{
    std::vector<std::uint8_t> codes;
    for (const Bytes& frame : peer.Commands()) {
        if (frame.size() < 4 || frame[1] != address)
            continue;
        if (!withPolls && frame[3] == 0x33)
            continue;
        codes.push_back(frame[3]);
    }
    return codes;
}

int CountCode(const PtyPeer& peer, std::uint8_t address, std::uint8_t code)
{
    auto codes = CodesTo(peer, address);
    return static_cast<int>(std::count(codes.begin(), codes.end(), code));
}

} // namespace orvex::test
