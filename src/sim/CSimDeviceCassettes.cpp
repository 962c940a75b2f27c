#include "sim/CSimDevice.h"

#include "sim/SimFields.h"
#include "sim/SimTimings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace orvex {

using namespace simfields;

void CSimDevice::MoveToDispenser()
{
    for (int index = 0; index < kSimCassettes; ++index) {
        auto& cassette = m_ledger.cassettes[static_cast<std::size_t>(index)];
        int planned = std::exchange(m_dispensePlan[static_cast<std::size_t>(index)], 0);
        // The dispenser keeps bills by type: an escrow or unassigned
        // cassette has no type to give, and none was planned from it.
        if (cassette.type < 0 || cassette.type >= kSimBillTypes)
            continue;
        int bills = std::min(planned, cassette.count);
        cassette.count -= bills;
        cassette.full = cassette.count >= cassette.capacity;
        m_dispenser[static_cast<std::size_t>(cassette.type)] += bills;
        m_ledger.inDispenser += bills;
    }
}

int CSimDevice::MoveUnloaded(Clock::time_point now, bool complete)
{
    auto& cassette = m_ledger.cassettes[static_cast<std::size_t>(m_unloadCassette)];
    int wanted = std::min(m_unloadAsked, cassette.count);
    int moved = wanted;
    if (!complete) {
        double part = std::chrono::duration<double>(now - m_phaseStart).count()
            / std::max(1e-9, std::chrono::duration<double>(Duration(SimPhase::Unloading)).count());
        moved = std::clamp(static_cast<int>(wanted * part), 0, wanted);
    }
    cassette.count -= moved;
    cassette.full = cassette.count >= cassette.capacity;
    m_ledger.dropBox += moved;
    m_ledger.unloaded += moved;
    m_unloadMoved = moved;
    return moved;
}

void CSimDevice::ApplyCassetteType()
{
    auto& cassette = m_ledger.cassettes[static_cast<std::size_t>(m_typeCassette)];
    if (cassette.type != m_typeValue && cassette.count > 0) {
        // Bills of the old type cannot stay; the unit moves them to the box.
        m_ledger.dropBox += cassette.count;
        m_ledger.unloaded += cassette.count;
        cassette.count = 0;
    }
    cassette.type = m_typeValue;
    cassette.full = cassette.count >= cassette.capacity;
}

std::vector<std::uint8_t> CSimDevice::Dispense(const SimBytes& frame, Clock::time_point now)
{
    std::size_t parameters = frame.size() - 6;
    if (parameters % 2 != 0 || !AtRest() || Frozen(now))
        return Invalid();
    m_dispenseRequest.clear();
    std::array<int, kSimBillTypes> wanted {};
    bool meetable = parameters > 0;
    for (std::size_t at = 4; at + 1 < frame.size() - 2; at += 2) {
        std::uint8_t type = frame[at];
        std::uint8_t count = frame[at + 1];
        m_dispenseRequest.emplace_back(type, count);
        if (type >= kSimBillTypes) {
            meetable = false;
            continue;
        }
        wanted[type] += count;
    }
    int total = 0;
    std::array<int, kSimCassettes> plan {};
    for (int type = 0; type < kSimBillTypes && meetable; ++type) {
        int left = wanted[static_cast<std::size_t>(type)];
        total += left;
        for (int index = 0; index < kSimCassettes && left > 0; ++index) {
            const auto& cassette = m_ledger.cassettes[static_cast<std::size_t>(index)];
            if (cassette.type != type)
                continue;
            int take = std::min(left, cassette.count);
            plan[static_cast<std::size_t>(index)] = take;
            left -= take;
        }
        if (left > 0)
            meetable = false;
    }
    for (int waiting : m_dispenser)
        if (waiting > 0)
            meetable = false; // the dispenser must be empty first
    if (!meetable || total == 0) {
        Enter(SimPhase::InvalidBillNumber, now);
        return Ack();
    }
    m_dispensePlan = plan;
    Enter(SimPhase::DispenseMoving, now);
    return Ack();
}

std::vector<std::uint8_t> CSimDevice::Unload(const SimBytes& frame, Clock::time_point now)
{
    if (frame.size() < 8 || frame[4] < 1 || frame[4] > kSimCassettes || !AtRest() || Frozen(now))
        return Invalid();
    m_unloadCassette = frame[4] - 1;
    m_unloadAsked = frame[5];
    m_unloadMoved = 0;
    Enter(SimPhase::Unloading, now);
    return Ack();
}

std::vector<std::uint8_t> CSimDevice::SetCassetteType(const SimBytes& frame, Clock::time_point now)
{
    if (frame.size() < 8 || frame[4] < 1 || frame[4] > kSimCassettes || !AtRest() || Frozen(now))
        return Invalid();
    int type = frame[5] & wire::kBillTypeMask;
    if (type > kSimEscrowCassetteType && type != kSimUnassignedType)
        return Invalid();
    m_typeCassette = frame[4] - 1;
    m_typeValue = type;
    Enter(SimPhase::SettingType, now);
    return Ack();
}

std::uint32_t CSimDevice::RoutedMask() const
{
    std::uint32_t mask = 0;
    for (const auto& cassette : m_ledger.cassettes)
        if (cassette.type >= 0 && cassette.type < kSimBillTypes)
            mask |= 1u << cassette.type;
    return mask;
}

} // namespace orvex
