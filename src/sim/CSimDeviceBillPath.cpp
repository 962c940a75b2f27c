#include "sim/CSimDevice.h"

#include "sim/SimFields.h"
#include "sim/SimTimings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvex {

using namespace simfields;

// ---- Poll states -------------------------------------------------------

std::uint8_t CSimDevice::PhaseCode() const
{
    switch (m_phase) {
    case SimPhase::PowerUp: return m_powerUpCode;
    case SimPhase::Initializing: return wire::kInitializing;
    case SimPhase::Rest: return m_enableMask != 0 ? wire::kIdling : wire::kDisabled;
    case SimPhase::Accepting: return wire::kAccepting;
    case SimPhase::Escrow: return wire::kEscrowPosition;
    case SimPhase::Stacking: return wire::kStacking;
    case SimPhase::Stacked: return wire::kBillStacked;
    case SimPhase::Returning: return wire::kReturning;
    case SimPhase::Returned: return wire::kBillReturned;
    case SimPhase::Rejecting: return wire::kRejecting;
    case SimPhase::DispenseMoving:
    case SimPhase::DispenseWaiting: return wire::kDispensing;
    case SimPhase::Dispensed: return wire::kDispensed;
    case SimPhase::InvalidBillNumber: return wire::kInvalidBillNumber;
    case SimPhase::Unloading: return wire::kUnloading;
    case SimPhase::Unloaded: return wire::kUnloaded;
    case SimPhase::SettingType: return wire::kSettingCassetteType;
    case SimPhase::TypeSet: return wire::kCassetteTypeSet;
    }
    return wire::kDisabled;
}

CSimDevice::PollState CSimDevice::CurrentPoll(Clock::time_point now) const
{
    PollState poll;
    if (now < m_busyUntil) {
        poll.state = wire::kBusy;
        return poll;
    }
    if (m_phase != SimPhase::PowerUp && m_boxRemoved) {
        poll.state = wire::kBoxRemoved;
        return poll;
    }
    if (m_phase != SimPhase::PowerUp && m_failure != 0) {
        poll.state = m_failure;
        if (m_failure == wire::kFailure)
            poll.detail = { m_failureDetail[0], m_failureDetail[1] };
        return poll;
    }
    poll.state = PhaseCode();
    switch (m_phase) {
    case SimPhase::Escrow:
    case SimPhase::Returned:
        poll.detail = { static_cast<std::uint8_t>(m_channelType) };
        break;
    case SimPhase::Stacked:
        poll.detail = { static_cast<std::uint8_t>(m_channelType) };
        if (m_cyclor)
            poll.detail.push_back(static_cast<std::uint8_t>(m_destination));
        break;
    case SimPhase::Rejecting:
        poll.detail = { m_rejectReason };
        break;
    case SimPhase::DispenseMoving:
        poll.detail = { 0 };
        break;
    case SimPhase::DispenseWaiting:
        poll.detail = { 1 };
        break;
    case SimPhase::Unloading: {
        const auto& cassette = m_ledger.cassettes[static_cast<std::size_t>(m_unloadCassette)];
        poll.detail = { static_cast<std::uint8_t>(m_unloadAsked > cassette.count + m_unloadMoved ? 1 : 0) };
        break;
    }
    case SimPhase::Unloaded:
        poll.detail = { static_cast<std::uint8_t>(std::min(m_unloadMoved, 255)) };
        break;
    default:
        break;
    }
    return poll;
}

bool CSimDevice::Frozen(Clock::time_point) const
{
    return m_phase != SimPhase::PowerUp && (m_boxRemoved || m_failure != 0);
}

bool CSimDevice::AtRest() const
{
    return m_phase == SimPhase::Rest;
}

// ---- State machine -----------------------------------------------------

CSimDevice::Clock::duration CSimDevice::Scaled(double milliseconds) const
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(milliseconds * m_options.pace));
}

CSimDevice::Clock::duration CSimDevice::Duration(SimPhase phase) const
{
    switch (phase) {
    case SimPhase::Initializing: return Scaled(kInitializingMs);
    case SimPhase::Accepting: return Scaled(kAcceptingMs);
    case SimPhase::Stacking: return Scaled(kStackingMs);
    case SimPhase::Returning: return Scaled(kReturningMs);
    case SimPhase::Rejecting: return Scaled(kRejectingMs);
    case SimPhase::DispenseMoving: {
        int bills = 0;
        for (int planned : m_dispensePlan)
            bills += planned;
        return Scaled(std::min(kDispenseMovingMs + kDispensePerBillMs * bills, 3000.0));
    }
    case SimPhase::DispenseWaiting: return Scaled(m_options.takeTimeoutSeconds * 1000.0);
    case SimPhase::Unloading: return Scaled(std::min(kUnloadingMs + kUnloadPerBillMs * m_unloadAsked, 5000.0));
    case SimPhase::SettingType: return Scaled(kSettingTypeMs);
    case SimPhase::Stacked:
    case SimPhase::Returned:
    case SimPhase::Dispensed:
    case SimPhase::InvalidBillNumber:
    case SimPhase::Unloaded:
    case SimPhase::TypeSet: return Scaled(kResultMs);
    default: return Clock::duration::zero();
    }
}

void CSimDevice::Enter(SimPhase phase, Clock::time_point now)
{
    if (phase == SimPhase::Stacking) {
        // The destination is chosen as the bill goes in: its cassette while
        // that has room, else the drop box.
        m_destination = 0;
        for (int index = 0; index < kSimCassettes; ++index) {
            const auto& cassette = m_ledger.cassettes[static_cast<std::size_t>(index)];
            if (cassette.type == m_channelType && cassette.count < cassette.capacity) {
                m_destination = index + 1;
                break;
            }
        }
    }
    if (phase == SimPhase::Escrow)
        m_escrowSince = now;
    m_phase = phase;
    m_phaseStart = now;
    m_reported = false;
}

void CSimDevice::Settle(Clock::time_point now)
{
    if (!m_reported || Frozen(now))
        return;
    bool elapsed = now - m_phaseStart >= Duration(m_phase);
    switch (m_phase) {
    case SimPhase::PowerUp:
    case SimPhase::Rest:
        break;
    case SimPhase::Initializing:
    case SimPhase::Stacked:
    case SimPhase::Returned:
    case SimPhase::Dispensed:
    case SimPhase::InvalidBillNumber:
    case SimPhase::Unloaded:
    case SimPhase::TypeSet:
        if (elapsed)
            Enter(SimPhase::Rest, now);
        break;
    case SimPhase::Accepting:
        if (!elapsed)
            break;
        if (m_rejectReason != 0) {
            Enter(SimPhase::Rejecting, now);
        } else {
            if (m_channelType == kSimCouponType)
                m_lastBarcode = m_channelBarcode;
            Enter(m_toEscrow ? SimPhase::Escrow : SimPhase::Stacking, now);
        }
        break;
    case SimPhase::Escrow:
        if (m_options.escrowTimeoutSeconds > 0
            && now - m_escrowSince >= std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_options.escrowTimeoutSeconds)))
            Enter(SimPhase::Returning, now);
        break;
    case SimPhase::Stacking:
        if (elapsed) {
            FinishStacking();
            Enter(SimPhase::Stacked, now);
        }
        break;
    case SimPhase::Returning:
        if (elapsed) {
            ReturnChannelBill();
            Enter(SimPhase::Returned, now);
        }
        break;
    case SimPhase::Rejecting:
        if (elapsed) {
            ReturnChannelBill();
            Enter(SimPhase::Rest, now);
        }
        break;
    case SimPhase::DispenseMoving:
        if (elapsed) {
            MoveToDispenser();
            m_taken = false;
            Enter(SimPhase::DispenseWaiting, now);
        }
        break;
    case SimPhase::DispenseWaiting:
        if (m_taken || (m_options.takeTimeoutSeconds > 0 && elapsed)) {
            for (auto& waiting : m_dispenser) {
                m_ledger.dispensed += waiting;
                m_ledger.inDispenser -= waiting;
                waiting = 0;
            }
            Enter(SimPhase::Dispensed, now);
        }
        break;
    case SimPhase::Unloading:
        if (elapsed) {
            MoveUnloaded(now, true);
            Enter(SimPhase::Unloaded, now);
        }
        break;
    case SimPhase::SettingType:
        if (elapsed) {
            ApplyCassetteType();
            Enter(SimPhase::TypeSet, now);
        }
        break;
    }
}

void CSimDevice::FinishStacking()
{
    if (m_ledger.inChannel == 0)
        return;
    if (m_destination > 0) {
        auto& cassette = m_ledger.cassettes[static_cast<std::size_t>(m_destination - 1)];
        if (cassette.count < cassette.capacity) {
            ++cassette.count;
            cassette.full = cassette.count >= cassette.capacity;
        } else {
            m_destination = 0;
        }
    }
    if (m_destination == 0)
        ++m_ledger.dropBox;
    m_ledger.inChannel = 0;
    if (m_channelType >= 0 && m_channelType < 20)
        Count(m_statistics.accepted[static_cast<std::size_t>(m_channelType)]);
}

void CSimDevice::ReturnChannelBill()
{
    if (m_ledger.inChannel == 0)
        return;
    m_ledger.inChannel = 0;
    ++m_ledger.returned;
}

void CSimDevice::Interrupt(Clock::time_point now, bool powerCut)
{
    std::vector<std::uint8_t> record;
    if (powerCut)
        m_powerUpCode = wire::kPowerUp;
    switch (m_phase) {
    case SimPhase::PowerUp:
        if (powerCut && m_ledger.inChannel > 0)
            m_powerUpCode = wire::kPowerUpWithBillInChannel;
        break;
    case SimPhase::Accepting:
    case SimPhase::Escrow:
    case SimPhase::Returning:
    case SimPhase::Rejecting:
        // After a power cut the bill stays in the channel until RESET.
        if (powerCut)
            m_powerUpCode = wire::kPowerUpWithBillInChannel;
        else
            ReturnChannelBill();
        break;
    case SimPhase::Stacking: {
        int type = m_channelType;
        FinishStacking();
        if (powerCut) {
            record = { wire::kCutWhilePacking, static_cast<std::uint8_t>(type & wire::kBillTypeMask), static_cast<std::uint8_t>(m_destination) };
            m_powerUpCode = wire::kPowerUpWithBillInStacker;
        }
        break;
    }
    case SimPhase::DispenseMoving:
    case SimPhase::DispenseWaiting:
        if (powerCut) {
            record = { wire::kCutWhileDispensing };
            for (const auto& pair : m_dispenseRequest) {
                record.push_back(static_cast<std::uint8_t>(wire::kRequestedPair | (pair.first & wire::kBillTypeMask)));
                record.push_back(pair.second);
            }
            for (int type = 0; type < kSimBillTypes; ++type) {
                int waiting = m_dispenser[static_cast<std::size_t>(type)];
                while (waiting > 0) {
                    int part = std::min(waiting, 255);
                    record.push_back(static_cast<std::uint8_t>(type));
                    record.push_back(static_cast<std::uint8_t>(part));
                    waiting -= part;
                }
            }
        }
        // Bills not yet moved stay in their cassettes; those in the
        // dispenser stay there until taken or emptied.
        m_dispensePlan.fill(0);
        break;
    case SimPhase::Unloading: {
        int moved = MoveUnloaded(now, false);
        if (powerCut) {
            int type = m_ledger.cassettes[static_cast<std::size_t>(m_unloadCassette)].type;
            record = { wire::kCutWhileUnloading, static_cast<std::uint8_t>(m_unloadCassette + 1), static_cast<std::uint8_t>(m_unloadAsked),
                static_cast<std::uint8_t>(type & wire::kBillTypeMask), static_cast<std::uint8_t>(moved) };
        }
        break;
    }
    case SimPhase::SettingType:
        ApplyCassetteType();
        break;
    default:
        break;
    }
    if (!powerCut) {
        ReturnChannelBill();
        return;
    }
    // A cut with nothing under way keeps an unread record of an earlier one.
    if (!record.empty() || m_recovery.empty())
        m_recovery = record.empty() ? std::vector<std::uint8_t> { wire::kNoPowerCut } : record;
}

std::vector<std::uint8_t> CSimDevice::Reset(Clock::time_point now)
{
    Interrupt(now, false);
    m_failure = 0;
    m_enableMask = 0;
    m_escrowMask = 0;
    m_powerUpCode = wire::kPowerUp;
    m_testCode = 0;
    Enter(SimPhase::Initializing, now);
    return Ack();
}

} // namespace orvex
