#include "sim/CSimDevice.h"

#include "link/Frame.h"
#include "link/LocalTime.h"
#include "link/WireVocabulary.h"
#include "sim/SimFields.h"
#include "sim/SimTimings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvex {

using namespace simfields;

CSimDevice::CSimDevice(const SimOptions& options, Clock::time_point now)
    : m_options(options)
    , m_random(options.seed)
    , m_phaseStart(now)
{
    m_bills = ParseBillTable(options.bills, m_setupError);
    if (!m_setupError.empty())
        m_setupError = "--bills " + m_setupError;
    if (m_options.pace < 0.0001 || m_options.pace > 100.0)
        m_setupError = "--pace: must lie between 0.0001 and 100";
    m_cyclor = options.device == SimDeviceKind::Cyclor;
    m_address = m_cyclor ? wire::kCyclorAddress : wire::kValidatorAddress;
    for (int index = 0; index < kSimCassettes; ++index) {
        const SimCassetteSetup& setup = options.cassettes[static_cast<std::size_t>(index)];
        SimCassetteState& cassette = m_ledger.cassettes[static_cast<std::size_t>(index)];
        bool typeValid = (setup.type >= 0 && setup.type < kSimBillTypes) || setup.type == kSimEscrowCassetteType
            || setup.type == kSimUnassignedType;
        if (!typeValid || setup.capacity < 1 || setup.capacity > kSimMaxCapacity || setup.count < 0
            || setup.count > setup.capacity) {
            m_setupError = "cassette " + std::to_string(index + 1)
                + ": type must be 0..24 or 31, capacity 1..249 and count 0..capacity";
        }
        if (!m_cyclor)
            continue;
        cassette.type = setup.type;
        cassette.capacity = setup.capacity;
        // Only a cassette with a bill type can hold bills.
        cassette.count = setup.type < kSimBillTypes ? setup.count : 0;
    }
    for (auto& cassette : m_ledger.cassettes)
        cassette.full = cassette.capacity > 0 && cassette.count >= cassette.capacity;
    m_ledger.initial = m_ledger.CassetteTotal();
    // The unit's clock keeps local time like a real one: its offset from
    // UTC is taken once here, so the line thread never touches the time
    // zone (and a daylight-saving change later leaves it an hour off, as
    // it would a unit on the wall).
    std::time_t start = std::time(nullptr);
    std::tm local {};
    ToLocalTime(start, local);
    m_clockOffset = static_cast<std::int64_t>(local.tm_gmtoff) + static_cast<std::int64_t>(options.clockOffsetHours * 3600.0);
}

bool CSimDevice::PlaysAddress(std::uint8_t address) const
{
    return address == m_address || (address == wire::kCardReaderAddress && m_options.cardReader);
}

// ---- Frames ------------------------------------------------------------

SimBytes CSimDevice::HandleFrame(const SimBytes& frame, Clock::time_point now)
{
    if (frame.size() < kShortestFrame || frame.size() != frame[2]) {
        ++m_framesSkipped;
        return {};
    }
    std::uint8_t address = frame[1];
    if (!PlaysAddress(address)) {
        ++m_framesSkipped;
        return {};
    }
    ++m_framesReceived;
    // The host's ACK and NAK close an exchange; they are never answered.
    if (frame.size() == kShortestFrame && (frame[3] == wire::kAck || frame[3] == wire::kNak))
        return {};
    if (m_silent)
        return {};
    ++m_exchangesAnswered;
    if (m_nakNext) {
        // Refused on the line: the command is not carried out.
        m_nakNext = false;
        return BuildNak(address);
    }
    Settle(now);
    bool poll = false;
    bool shownBefore = m_reported;
    bool cancelBefore = m_readerCancelPending;
    SimBytes reply = address == wire::kCardReaderAddress ? ReaderCommand(frame, now, poll) : UnitCommand(frame, now, poll);
    bool intact = true;
    if (m_garbageNext) {
        m_garbageNext = false;
        intact = false;
        std::uniform_int_distribution<int> byte(0, 255);
        std::size_t length = std::max<std::size_t>(6, std::min<std::size_t>(reply.size(), 16));
        reply.assign(length, 0);
        for (auto& noise : reply) {
            noise = static_cast<std::uint8_t>(byte(m_random));
            if (noise == wire::kSync)
                noise = wire::kSync + 1;
        }
    } else if (m_corruptNext) {
        m_corruptNext = false;
        intact = false;
        reply.back() ^= 0xA5;
    }
    // A state counts as reported only when the host could read it.
    if (poll && !intact) {
        m_reported = shownBefore;
        m_readerCancelPending = cancelBefore;
    }
    return reply;
}

SimBytes CSimDevice::UnitCommand(const SimBytes& frame, Clock::time_point now, bool& poll)
{
    const std::uint8_t command = frame[3];
    const std::size_t parameters = frame.size() - kShortestFrame;
    auto reply = [&](const std::vector<std::uint8_t>& data) { return BuildFrame(m_address, data); };
    auto invalid = [&] { return BuildFrame(m_address, Invalid()); };

    switch (command) {
    case wire::kReset:
        return reply(Reset(now));
    case wire::kStatusRequest: {
        std::vector<std::uint8_t> data;
        Append24(data, m_enableMask);
        Append24(data, m_security);
        Append24(data, m_cyclor ? RoutedMask() : 0);
        return reply(data);
    }
    case wire::kSetSecurity:
        if (parameters < 3)
            return invalid();
        m_security = Read24(frame, 4);
        return reply(Ack());
    case wire::kPoll: {
        poll = true;
        PollState state = CurrentPoll(now);
        // Only the phase's own code marks it as seen; BUSY or a failure
        // hide it.
        if (state.state == PhaseCode() && !(Frozen(now) || now < m_busyUntil))
            m_reported = true;
        std::vector<std::uint8_t> data { state.state };
        data.insert(data.end(), state.detail.begin(), state.detail.end());
        return reply(data);
    }
    case wire::kBillType:
        if (parameters < 6)
            return invalid();
        m_enableMask = Read24(frame, 4) & kMask24;
        m_escrowMask = Read24(frame, 7) & kMask24;
        return reply(Ack());
    case wire::kPack:
        if (m_phase != SimPhase::Escrow || Frozen(now))
            return invalid();
        Enter(SimPhase::Stacking, now);
        return reply(Ack());
    case wire::kReturn:
        if (m_phase != SimPhase::Escrow || Frozen(now))
            return invalid();
        Enter(SimPhase::Returning, now);
        return reply(Ack());
    case wire::kIdentification:
        return reply(Identification(false));
    case wire::kHold:
        if (m_phase != SimPhase::Escrow)
            return invalid();
        m_escrowSince = now;
        return reply(Ack());
    case wire::kSetBarParameters:
        if (parameters < 2)
            return invalid();
        m_barFormat = frame[4];
        m_barLength = frame[5];
        return reply(Ack());
    case wire::kExtractBarcode:
        if (m_lastBarcode.empty())
            return invalid();
        return reply(std::vector<std::uint8_t>(m_lastBarcode.begin(), m_lastBarcode.end()));
    case wire::kBillTable: {
        std::vector<std::uint8_t> data;
        for (const SimBill& bill : m_bills) {
            data.push_back(bill.digits);
            for (std::size_t letter = 0; letter < 3; ++letter)
                data.push_back(letter < bill.country.size() ? static_cast<std::uint8_t>(bill.country[letter]) : 0);
            data.push_back(bill.exponent < 0 ? static_cast<std::uint8_t>(wire::kExponentDivides | (-bill.exponent & wire::kExponentSteps))
                                             : static_cast<std::uint8_t>(bill.exponent & wire::kExponentSteps));
        }
        return reply(data);
    }
    case wire::kCrc32: {
        std::vector<std::uint8_t> data;
        Append32(data, m_cyclor ? 0x5A3C96E1u : 0x1280FF01u);
        return reply(data);
    }
    case wire::kValidationSoftwareIdentification: {
        std::vector<std::uint8_t> data;
        PutText(data, 3, 15, m_cyclor ? "VS-CY3-USD-0731" : "VS-BV24-USD-042");
        PutText(data, 18, 3, "");
        Append32(data, m_cyclor ? 0x7E21C0DEu : 0x1280FF01u);
        return reply(data);
    }
    case wire::kSetOptions:
        if (parameters < 4)
            return invalid();
        m_optionWord = Read32(frame, 4);
        return reply(Ack());
    case wire::kGetOptions: {
        std::vector<std::uint8_t> data;
        Append32(data, m_optionWord);
        return reply(data);
    }
    default:
        break;
    }

    if (!m_cyclor)
        return invalid();

    switch (command) {
    case wire::kGetCassetteStatus: {
        std::vector<std::uint8_t> data;
        for (const auto& cassette : m_ledger.cassettes) {
            std::uint8_t first = static_cast<std::uint8_t>(wire::kCassettePresent | (cassette.type & wire::kBillTypeMask));
            if (cassette.full)
                first |= wire::kCassetteFull;
            data.push_back(first);
            data.push_back(static_cast<std::uint8_t>(cassette.count));
        }
        return reply(data);
    }
    case wire::kDispense:
        return reply(Dispense(frame, now));
    case wire::kUnload:
        return reply(Unload(frame, now));
    case wire::kExtendedIdentification:
        return reply(Identification(true));
    case wire::kSetCassetteType:
        return reply(SetCassetteType(frame, now));
    case wire::kGetCassetteFeedingLevel: {
        return reply(std::vector<std::uint8_t>(m_feedingLevel.begin(), m_feedingLevel.end()));
    }
    case wire::kSetCassetteFeedingLevel:
        if (parameters < 2 || frame[4] < 1 || frame[4] > kSimCassettes)
            return invalid();
        m_feedingLevel[frame[4] - 1u] = frame[5] == wire::kDefaultFeedingLevel ? 50 : frame[5];
        return reply(Ack());
    case wire::kModuleIdentification: {
        std::vector<std::uint8_t> data;
        PutText(data, 3, 12, "CPU004217731");
        PutText(data, 15, 12, "DSP003318842");
        PutText(data, 27, 12, "CAS001100451");
        PutText(data, 39, 12, "CAS001100452");
        PutText(data, 51, 12, "CAS001100453");
        return reply(data);
    }
    case wire::kRequestStatistics:
        return BuildFrame(m_address, StatisticsData(), FrameForm::Long);
    case wire::kCyTime: // GET CY TIME without data, SET CY TIME with
        if (parameters == 0)
            return reply(ClockData());
        return reply(SetClock(frame));
    case wire::kPowerRecovery:
        return reply(PowerRecovery());
    case wire::kEmptyDispenser:
        if (m_phase == SimPhase::DispenseMoving || m_phase == SimPhase::DispenseWaiting)
            return invalid();
        for (auto& waiting : m_dispenser) {
            m_ledger.dropBox += waiting;
            m_ledger.inDispenser -= waiting;
            waiting = 0;
        }
        return reply(Ack());
    case wire::kExtendedCassetteStatus: {
        if (parameters < 1 || frame[4] < 1 || frame[4] > kSimCassettes)
            return invalid();
        const SimCassetteState& cassette = m_ledger.cassettes[frame[4] - 1u];
        std::vector<std::uint8_t> data { static_cast<std::uint8_t>(cassette.count) };
        data.insert(data.end(), static_cast<std::size_t>(cassette.count), static_cast<std::uint8_t>(cassette.type & wire::kBillTypeMask));
        return reply(data);
    }
    case wire::kDiagnostic:
        return reply(Diagnostic(frame, now));
    default:
        return invalid();
    }
}

} // namespace orvex
