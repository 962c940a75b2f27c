#include "sim/CSimDevice.h"

#include "link/CheckCode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvex {

namespace {

constexpr std::uint8_t kUnitPoll = 0x33;

// Bits 0..23 are bill types; the masks travel as 24-bit words.
constexpr std::uint32_t kMask24 = 0xFFFFFF;

std::uint32_t Read24(const SimBytes& frame, std::size_t at)
{
    return static_cast<std::uint32_t>(frame[at] << 16 | frame[at + 1] << 8 | frame[at + 2]);
}

std::uint32_t Read32(const SimBytes& frame, std::size_t at)
{
    return static_cast<std::uint32_t>(frame[at]) << 24 | static_cast<std::uint32_t>(frame[at + 1]) << 16
        | static_cast<std::uint32_t>(frame[at + 2]) << 8 | frame[at + 3];
}

void Append24(std::vector<std::uint8_t>& data, std::uint32_t value)
{
    data.push_back(static_cast<std::uint8_t>(value >> 16));
    data.push_back(static_cast<std::uint8_t>(value >> 8));
    data.push_back(static_cast<std::uint8_t>(value));
}

void Append32(std::vector<std::uint8_t>& data, std::uint32_t value)
{
    data.push_back(static_cast<std::uint8_t>(value >> 24));
    Append24(data, value & kMask24);
}

// A text field of fixed width, zero-padded, at `offset` of a reply frame.
void PutText(std::vector<std::uint8_t>& data, std::size_t offset, std::size_t width, const char* text)
{
    std::size_t at = offset - 3;
    if (data.size() < at + width)
        data.resize(at + width, 0);
    std::size_t length = std::min(width, std::strlen(text));
    std::memcpy(data.data() + at, text, length);
}

void PutLittle16(std::vector<std::uint8_t>& record, std::size_t at, std::uint16_t value)
{
    record[at] = static_cast<std::uint8_t>(value & 0xFF);
    record[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint8_t ToBcd(int value)
{
    return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10));
}

bool FromBcd(std::uint8_t byte, int low, int high, int& value)
{
    if ((byte >> 4) > 9 || (byte & 0x0F) > 9)
        return false;
    value = (byte >> 4) * 10 + (byte & 0x0F);
    return value >= low && value <= high;
}

// Civil dates from days since 1970-01-01 and back (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, int month, int day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthPart = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthPart + 2) / 5 + 1);
    month = static_cast<int>(monthPart < 10 ? monthPart + 3 : monthPart - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2));
}

constexpr double kInitializingMs = 600;
constexpr double kAcceptingMs = 500;
constexpr double kStackingMs = 800;
constexpr double kReturningMs = 600;
constexpr double kRejectingMs = 700;
constexpr double kResultMs = 150; // the short states that report a result
constexpr double kDispenseMovingMs = 400;
constexpr double kDispensePerBillMs = 100;
constexpr double kUnloadingMs = 500;
constexpr double kUnloadPerBillMs = 80;
constexpr double kSettingTypeMs = 700;
constexpr double kReaderResetMs = 300;
constexpr double kDiagnosticTestMs = 1000;
constexpr std::uint32_t kSessionFunds = 5000; // 50.00 on a card

// Statistics counters of the failure bytes (block offsets 166..178).
constexpr int kFailureTransport = 2;
constexpr int kFailureStacking = 3;
constexpr int kFailureAligning = 4;
constexpr int kFailureOptical = 1;
constexpr int kFailureMagnetic = 0;
constexpr int kJamDropCassette = 5;
constexpr int kJamInputAligning = 7;

void Count(std::uint8_t& counter)
{
    if (counter < 0xFF)
        ++counter;
}

void Count(std::uint16_t& counter)
{
    if (counter < 0xFFFF)
        ++counter;
}

} // namespace

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
    m_address = m_cyclor ? 1 : 3;
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
    localtime_r(&start, &local);
    m_clockOffset = static_cast<std::int64_t>(local.tm_gmtoff) + static_cast<std::int64_t>(options.clockOffsetHours * 3600.0);
}

bool CSimDevice::PlaysAddress(std::uint8_t address) const
{
    return address == m_address || (address == 4 && m_options.cardReader);
}

SimBytes CSimDevice::Frame(std::uint8_t address, const std::vector<std::uint8_t>& data) const
{
    std::size_t length = data.size() + 5;
    if (length > 255)
        return LongFrame(address, data);
    SimBytes frame(length, 0);
    frame[0] = kSync;
    frame[2] = static_cast<std::uint8_t>(length);
    std::copy(data.begin(), data.end(), frame.begin() + 3);
    FinishFrame(frame.data(), static_cast<int>(length), address);
    return frame;
}

SimBytes CSimDevice::LongFrame(std::uint8_t address, const std::vector<std::uint8_t>& data) const
{
    std::size_t length = data.size() + 7;
    SimBytes frame(length, 0);
    frame[0] = kSync;
    frame[2] = 0;
    frame[3] = static_cast<std::uint8_t>(length >> 8);
    frame[4] = static_cast<std::uint8_t>(length & 0xFF);
    std::copy(data.begin(), data.end(), frame.begin() + 5);
    FinishFrame(frame.data(), static_cast<int>(length), address);
    return frame;
}

// ---- Frames ------------------------------------------------------------

SimBytes CSimDevice::HandleFrame(const SimBytes& frame, Clock::time_point now)
{
    if (frame.size() < 6 || frame.size() != frame[2]) {
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
    if (frame.size() == 6 && (frame[3] == kAckCode || frame[3] == kNakCode))
        return {};
    if (m_silent)
        return {};
    ++m_exchangesAnswered;
    if (m_nakNext) {
        // Refused on the line: the command is not carried out.
        m_nakNext = false;
        return Frame(address, { kNakCode });
    }
    Settle(now);
    bool poll = false;
    bool shownBefore = m_reported;
    bool cancelBefore = m_readerCancelPending;
    SimBytes reply = address == 4 ? ReaderCommand(frame, now, poll) : UnitCommand(frame, now, poll);
    bool intact = true;
    if (m_garbageNext) {
        m_garbageNext = false;
        intact = false;
        std::uniform_int_distribution<int> byte(0, 255);
        std::size_t length = std::max<std::size_t>(6, std::min<std::size_t>(reply.size(), 16));
        reply.assign(length, 0);
        for (auto& noise : reply) {
            noise = static_cast<std::uint8_t>(byte(m_random));
            if (noise == kSync)
                noise = 0x03;
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
    const std::size_t parameters = frame.size() - 6;
    auto reply = [&](const std::vector<std::uint8_t>& data) { return Frame(m_address, data); };
    auto invalid = [&] { return Frame(m_address, Invalid()); };

    switch (command) {
    case 0x30: // RESET
        return reply(Reset(now));
    case 0x31: { // STATUS REQUEST
        std::vector<std::uint8_t> data;
        Append24(data, m_enableMask);
        Append24(data, m_security);
        Append24(data, m_cyclor ? RoutedMask() : 0);
        return reply(data);
    }
    case 0x32: // SET SECURITY
        if (parameters < 3)
            return invalid();
        m_security = Read24(frame, 4);
        return reply(Ack());
    case kUnitPoll: {
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
    case 0x34: // BILL TYPE
        if (parameters < 6)
            return invalid();
        m_enableMask = Read24(frame, 4) & kMask24;
        m_escrowMask = Read24(frame, 7) & kMask24;
        return reply(Ack());
    case 0x35: // PACK
        if (m_phase != SimPhase::Escrow || Frozen(now))
            return invalid();
        Enter(SimPhase::Stacking, now);
        return reply(Ack());
    case 0x36: // RETURN
        if (m_phase != SimPhase::Escrow || Frozen(now))
            return invalid();
        Enter(SimPhase::Returning, now);
        return reply(Ack());
    case 0x37: // IDENTIFICATION
        return reply(Identification(false));
    case 0x38: // HOLD
        if (m_phase != SimPhase::Escrow)
            return invalid();
        m_escrowSince = now;
        return reply(Ack());
    case 0x39: // SET BAR PARAMETERS
        if (parameters < 2)
            return invalid();
        m_barFormat = frame[4];
        m_barLength = frame[5];
        return reply(Ack());
    case 0x3A: // EXTRACT BARCODE
        if (m_lastBarcode.empty())
            return invalid();
        return reply(std::vector<std::uint8_t>(m_lastBarcode.begin(), m_lastBarcode.end()));
    case 0x41: { // BILL TABLE
        std::vector<std::uint8_t> data;
        for (const SimBill& bill : m_bills) {
            data.push_back(bill.digits);
            for (std::size_t letter = 0; letter < 3; ++letter)
                data.push_back(letter < bill.country.size() ? static_cast<std::uint8_t>(bill.country[letter]) : 0);
            data.push_back(bill.exponent < 0 ? static_cast<std::uint8_t>(0x80 | (-bill.exponent & 0x7F))
                                             : static_cast<std::uint8_t>(bill.exponent & 0x7F));
        }
        return reply(data);
    }
    case 0x51: { // CRC32
        std::vector<std::uint8_t> data;
        Append32(data, m_cyclor ? 0x5A3C96E1u : 0x1280FF01u);
        return reply(data);
    }
    case 0x54: { // VALIDATION SOFTWARE IDENTIFICATION
        std::vector<std::uint8_t> data;
        PutText(data, 3, 15, m_cyclor ? "VS-CY3-USD-0731" : "VS-BV24-USD-042");
        PutText(data, 18, 3, "");
        Append32(data, m_cyclor ? 0x7E21C0DEu : 0x1280FF01u);
        return reply(data);
    }
    case 0x68: // SET OPTIONS
        if (parameters < 4)
            return invalid();
        m_optionWord = Read32(frame, 4);
        return reply(Ack());
    case 0x69: { // GET OPTIONS
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
    case 0x3B: { // GET CASSETTE STATUS
        std::vector<std::uint8_t> data;
        for (const auto& cassette : m_ledger.cassettes) {
            std::uint8_t first = static_cast<std::uint8_t>(0x80 | (cassette.type & 0x1F));
            if (cassette.full)
                first |= 0x40;
            data.push_back(first);
            data.push_back(static_cast<std::uint8_t>(cassette.count));
        }
        return reply(data);
    }
    case 0x3C:
        return reply(Dispense(frame, now));
    case 0x3D:
        return reply(Unload(frame, now));
    case 0x3E:
        return reply(Identification(true));
    case 0x40:
        return reply(SetCassetteType(frame, now));
    case 0x43: { // GET CASSETTE FEEDING LEVEL
        return reply(std::vector<std::uint8_t>(m_feedingLevel.begin(), m_feedingLevel.end()));
    }
    case 0x44: // SET CASSETTE FEEDING LEVEL
        if (parameters < 2 || frame[4] < 1 || frame[4] > kSimCassettes)
            return invalid();
        m_feedingLevel[frame[4] - 1u] = frame[5] == 0xFF ? 50 : frame[5];
        return reply(Ack());
    case 0x53: { // MODULE IDENTIFICATION
        std::vector<std::uint8_t> data;
        PutText(data, 3, 12, "CPU004217731");
        PutText(data, 15, 12, "DSP003318842");
        PutText(data, 27, 12, "CAS001100451");
        PutText(data, 39, 12, "CAS001100452");
        PutText(data, 51, 12, "CAS001100453");
        return reply(data);
    }
    case 0x60: // REQUEST STATISTICS
        return LongFrame(m_address, StatisticsData());
    case 0x62: // GET CY TIME / SET CY TIME
        if (parameters == 0)
            return reply(ClockData());
        return reply(SetClock(frame));
    case 0x66:
        return reply(PowerRecovery());
    case 0x67: // EMPTY DISPENSER
        if (m_phase == SimPhase::DispenseMoving || m_phase == SimPhase::DispenseWaiting)
            return invalid();
        for (auto& waiting : m_dispenser) {
            m_ledger.dropBox += waiting;
            m_ledger.inDispenser -= waiting;
            waiting = 0;
        }
        return reply(Ack());
    case 0x70: { // EXTENDED CASSETTE STATUS REQUEST
        if (parameters < 1 || frame[4] < 1 || frame[4] > kSimCassettes)
            return invalid();
        const SimCassetteState& cassette = m_ledger.cassettes[frame[4] - 1u];
        std::vector<std::uint8_t> data { static_cast<std::uint8_t>(cassette.count) };
        data.insert(data.end(), static_cast<std::size_t>(cassette.count), static_cast<std::uint8_t>(cassette.type & 0x1F));
        return reply(data);
    }
    case 0xF0:
        return reply(Diagnostic(frame, now));
    default:
        return invalid();
    }
}

// ---- Poll states -------------------------------------------------------

std::uint8_t CSimDevice::PhaseCode() const
{
    switch (m_phase) {
    case SimPhase::PowerUp: return m_powerUpCode;
    case SimPhase::Initializing: return 0x13;
    case SimPhase::Rest: return m_enableMask != 0 ? 0x14 : 0x19;
    case SimPhase::Accepting: return 0x15;
    case SimPhase::Escrow: return 0x80;
    case SimPhase::Stacking: return 0x17;
    case SimPhase::Stacked: return 0x81;
    case SimPhase::Returning: return 0x18;
    case SimPhase::Returned: return 0x82;
    case SimPhase::Rejecting: return 0x1C;
    case SimPhase::DispenseMoving:
    case SimPhase::DispenseWaiting: return 0x1D;
    case SimPhase::Dispensed: return 0x25;
    case SimPhase::InvalidBillNumber: return 0x28;
    case SimPhase::Unloading: return 0x1E;
    case SimPhase::Unloaded: return 0x26;
    case SimPhase::SettingType: return 0x21;
    case SimPhase::TypeSet: return 0x29;
    }
    return 0x19;
}

CSimDevice::PollState CSimDevice::CurrentPoll(Clock::time_point now) const
{
    PollState poll;
    if (now < m_busyUntil) {
        poll.state = 0x1B;
        return poll;
    }
    if (m_phase != SimPhase::PowerUp && m_boxRemoved) {
        poll.state = 0x42;
        return poll;
    }
    if (m_phase != SimPhase::PowerUp && m_failure != 0) {
        poll.state = m_failure;
        if (m_failure == 0x47)
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

void CSimDevice::MoveToDispenser()
{
    for (int index = 0; index < kSimCassettes; ++index) {
        auto& cassette = m_ledger.cassettes[static_cast<std::size_t>(index)];
        int bills = std::min(m_dispensePlan[static_cast<std::size_t>(index)], cassette.count);
        cassette.count -= bills;
        cassette.full = cassette.count >= cassette.capacity;
        m_dispenser[static_cast<std::size_t>(cassette.type)] += bills;
        m_ledger.inDispenser += bills;
        m_dispensePlan[static_cast<std::size_t>(index)] = 0;
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

void CSimDevice::Interrupt(Clock::time_point now, bool powerCut)
{
    std::vector<std::uint8_t> record;
    if (powerCut)
        m_powerUpCode = 0x10;
    switch (m_phase) {
    case SimPhase::PowerUp:
        if (powerCut && m_ledger.inChannel > 0)
            m_powerUpCode = 0x11;
        break;
    case SimPhase::Accepting:
    case SimPhase::Escrow:
    case SimPhase::Returning:
    case SimPhase::Rejecting:
        // After a power cut the bill stays in the channel until RESET.
        if (powerCut)
            m_powerUpCode = 0x11;
        else
            ReturnChannelBill();
        break;
    case SimPhase::Stacking: {
        int type = m_channelType;
        FinishStacking();
        if (powerCut) {
            record = { 0x17, static_cast<std::uint8_t>(type & 0x1F), static_cast<std::uint8_t>(m_destination) };
            m_powerUpCode = 0x12;
        }
        break;
    }
    case SimPhase::DispenseMoving:
    case SimPhase::DispenseWaiting:
        if (powerCut) {
            record = { 0x3C };
            for (const auto& pair : m_dispenseRequest) {
                record.push_back(static_cast<std::uint8_t>(0x80 | (pair.first & 0x1F)));
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
            record = { 0x3D, static_cast<std::uint8_t>(m_unloadCassette + 1), static_cast<std::uint8_t>(m_unloadAsked),
                static_cast<std::uint8_t>(type & 0x1F), static_cast<std::uint8_t>(moved) };
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
        m_recovery = record.empty() ? std::vector<std::uint8_t> { 0x00 } : record;
}

std::vector<std::uint8_t> CSimDevice::Reset(Clock::time_point now)
{
    Interrupt(now, false);
    m_failure = 0;
    m_enableMask = 0;
    m_escrowMask = 0;
    m_powerUpCode = 0x10;
    m_testCode = 0;
    Enter(SimPhase::Initializing, now);
    return Ack();
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
    int type = frame[5] & 0x1F;
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

// ---- Data replies ------------------------------------------------------

std::vector<std::uint8_t> CSimDevice::Identification(bool extended) const
{
    std::vector<std::uint8_t> data;
    std::string currency = m_bills.empty() ? "USD" : m_bills[0].country;
    std::string part = (m_cyclor ? "CY-300-" : "BV-24-") + currency;
    PutText(data, 3, 15, part.c_str());
    PutText(data, 18, 12, m_cyclor ? "CY0012345678" : "BV0098765432");
    // Asset number, seven bytes, high byte first.
    const std::uint8_t asset[7] = { 0x00, 0x00, 0x00, 0x12, 0xD6, 0x87, m_cyclor ? std::uint8_t(0x01) : std::uint8_t(0x03) };
    data.insert(data.end(), asset, asset + 7);
    if (!extended)
        return data; // 34 bytes: the short form, length 0x27
    PutText(data, 37, 1, "");
    PutText(data, 38, 6, "1.02");
    PutText(data, 44, 20, "BV24 2.31.07");
    PutText(data, 64, 6, "1.00");
    PutText(data, 70, 6, "3.14");
    PutText(data, 76, 6, "1.01");
    PutText(data, 82, 6, "2.05");
    PutText(data, 88, 6, "1.00");
    PutText(data, 94, 6, "1.00");
    PutText(data, 100, 6, "1.00");
    PutText(data, 106, 6, "1.12");
    return data; // every field whole: length 114
}

std::vector<std::uint8_t> CSimDevice::StatisticsData() const
{
    // Offsets below are those of the frame; the data start at offset 5.
    constexpr std::size_t kBase = 5;
    std::string currency = m_bills.empty() ? "USD" : m_bills[0].country;
    std::vector<std::uint8_t> record(4341 - kBase + currency.size() + 1, 0);
    auto at = [&](std::size_t offset) { return offset - kBase; };
    std::memcpy(&record[at(5)], currency.data(), std::min<std::size_t>(3, currency.size()));
    int denominations = 0;
    for (const SimBill& bill : m_bills)
        if (bill.digits != 0)
            ++denominations;
    record[at(8)] = static_cast<std::uint8_t>(denominations);
    record[at(9)] = 1;
    PutLittle16(record, at(10), 2024);
    record[at(12)] = 1;
    record[at(13)] = 15;
    record[at(14)] = 8;
    record[at(15)] = 30;
    record[at(16)] = 0;
    const char* serial = m_cyclor ? "CY0012345678" : "BV0098765432";
    std::memcpy(&record[at(18)], serial, 12);
    // What happened since start is counted in block 0; the other fifteen
    // blocks hold earlier periods, empty on a new unit.
    std::size_t block = at(37);
    PutLittle16(record, block + 0, m_statistics.inserted);
    for (std::size_t d = 0; d < 20; ++d) {
        PutLittle16(record, block + 2 + 2 * d, m_statistics.accepted[d]);
        PutLittle16(record, block + 42 + 2 * d, m_statistics.returnedOptic[d]);
        PutLittle16(record, block + 82 + 2 * d, m_statistics.returnedMagnetic[d]);
        PutLittle16(record, block + 122 + 2 * d, m_statistics.returnedCapacity[d]);
    }
    PutLittle16(record, block + 162, m_statistics.unrecognized);
    PutLittle16(record, block + 164, m_statistics.returnedLength);
    for (std::size_t f = 0; f < m_statistics.failures.size(); ++f)
        record[block + 166 + f] = m_statistics.failures[f];
    for (std::size_t d = 0; d < 20 && d < m_bills.size(); ++d) {
        const SimBill& bill = m_bills[d];
        std::size_t denomination = at(4241 + 5 * d);
        // Only whole values of up to 63 digits fit a denomination record;
        // issue 2 carries no "Old"/"New" text.
        if (bill.digits == 0 || bill.digits > 63 || bill.exponent < 0)
            continue;
        record[denomination] = static_cast<std::uint8_t>(bill.digits | 0x80);
        std::memcpy(&record[denomination + 1], bill.country.data(), std::min<std::size_t>(3, bill.country.size()));
        record[denomination + 4] = static_cast<std::uint8_t>(bill.exponent);
    }
    std::memcpy(&record[at(4341)], currency.data(), currency.size());
    return record;
}

std::vector<std::uint8_t> CSimDevice::ClockData() const
{
    std::int64_t local = static_cast<std::int64_t>(std::time(nullptr)) + m_clockOffset;
    std::int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    std::int64_t second = local - days * 86400;
    int year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(days, year, month, day);
    int weekday = static_cast<int>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday; 0 = Sunday
    return { ToBcd(static_cast<int>(second % 60)), ToBcd(static_cast<int>(second / 60 % 60)), ToBcd(static_cast<int>(second / 3600)),
        static_cast<std::uint8_t>(weekday + 1), ToBcd(day), ToBcd(month), ToBcd(year % 100) };
}

std::vector<std::uint8_t> CSimDevice::SetClock(const SimBytes& frame)
{
    if (frame.size() != 13)
        return Invalid();
    int second = 0;
    int minute = 0;
    int hour = 0;
    int day = 0;
    int month = 0;
    int year = 0;
    if (!FromBcd(frame[4], 0, 59, second) || !FromBcd(frame[5], 0, 59, minute) || !FromBcd(frame[6], 0, 23, hour)
        || frame[7] < 1 || frame[7] > 7 || !FromBcd(frame[8], 1, 31, day) || !FromBcd(frame[9], 1, 12, month)
        || !FromBcd(frame[10], 0, 99, year))
        return Invalid();
    year += 2000;
    int checkYear = 0;
    int checkMonth = 0;
    int checkDay = 0;
    std::int64_t days = DaysFromCivil(year, month, day);
    CivilFromDays(days, checkYear, checkMonth, checkDay);
    if (checkMonth != month || checkDay != day)
        return Invalid(); // 31 April and the like
    std::int64_t local = days * 86400 + hour * 3600 + minute * 60 + second;
    m_clockOffset = local - static_cast<std::int64_t>(std::time(nullptr));
    return Ack();
}

std::vector<std::uint8_t> CSimDevice::PowerRecovery()
{
    // Told once: a second read must not credit the same bills again.
    std::vector<std::uint8_t> record = m_recovery.empty() ? std::vector<std::uint8_t> { 0x00 } : m_recovery;
    m_recovery.clear();
    return record;
}

std::vector<std::uint8_t> CSimDevice::Diagnostic(const SimBytes& frame, Clock::time_point now)
{
    if (frame.size() < 7)
        return Invalid();
    std::uint8_t sub = frame[4];
    switch (sub) {
    case 0x00: { // DIAGNOSTIC STATUS REQUEST
        if (m_testCode == 0)
            return { 0x00 };
        if (now < m_testDone)
            return { 0x1B };
        std::vector<std::uint8_t> data { m_testCode };
        std::uint64_t result = 0;
        int width = 2;
        if (m_testCode == 0x10 || m_testCode == 0x11)
            width = 6;
        if (m_testCode == 0x10) {
            bool inHead = m_ledger.inChannel > 0 && m_phase != SimPhase::Stacking;
            if (inHead)
                result |= 1ull << 8; // validating head input sensor
            if (m_ledger.inChannel > 0 && m_phase == SimPhase::Stacking)
                result |= 1ull << 17; // central sensor of the upper tract
            if (m_ledger.inDispenser > 0)
                result |= 1ull << 28; // dispenser exit sensor
        } else if (m_testCode == 0x11) {
            if (m_failure == 0x43)
                result |= 1ull << 41; // transport mechanism
            if (m_failure == 0x44)
                result |= 1ull << 45; // stacking platform position sensor
        }
        for (int byte = width - 1; byte >= 0; --byte)
            data.push_back(static_cast<std::uint8_t>(result >> (8 * byte)));
        return data;
    }
    case 0x01: { // DIAGNOSTIC IDENTIFICATION REQUEST
        const char texts[] = "ORVEX\0Cyclor CY-300\0" "2.07.14";
        return std::vector<std::uint8_t>(texts, texts + sizeof texts);
    }
    case 0x02: // DIAGNOSTIC SUPPORTED FUNCTIONS
        return { 0x00, 0x01, 0x02, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16 };
    case 0x12:
        if (frame.size() < 8 || frame[5] < 1 || frame[5] > kSimCassettes)
            return Invalid();
        m_testCassette = frame[5];
        [[fallthrough]];
    case 0x10:
    case 0x11:
    case 0x13:
    case 0x14:
    case 0x15:
    case 0x16:
        m_testCode = sub;
        m_testDone = now + Scaled(kDiagnosticTestMs);
        return Ack();
    default:
        return Invalid();
    }
}

// ---- Card reader -------------------------------------------------------

std::uint8_t CSimDevice::ReaderState(Clock::time_point now) const
{
    if (now < m_readerBusyUntil)
        return 0x11;
    if (m_readerCancelPending)
        return 0x14;
    return m_readerBase;
}

SimBytes CSimDevice::ReaderCommand(const SimBytes& frame, Clock::time_point now, bool& poll)
{
    const std::uint8_t command = frame[3];
    const std::size_t parameters = frame.size() - 6;
    auto reply = [&](const std::vector<std::uint8_t>& data) { return Frame(4, data); };
    auto invalid = [&] { return Frame(4, Invalid()); };
    bool busy = now < m_readerBusyUntil;
    switch (command) {
    case 0x31: // RESET
        m_readerBase = 1;
        m_readerEnabled = false;
        m_readerCancelPending = false;
        m_readerFunds = 0;
        m_readerBusyUntil = now + Scaled(kReaderResetMs);
        return reply(Ack());
    case 0x33: { // POLL CR
        poll = true;
        std::uint8_t state = ReaderState(now);
        if (state == 0x14)
            m_readerCancelPending = false; // the cancel has been seen
        return reply({ state, 0 });
    }
    case 0x11: // set-up: scale byte and currency
        if (parameters < 4 || busy || m_readerBase == 0x10)
            return invalid();
        return reply({ 0x00, frame[4] });
    case 0x15: { // CR IDENTIFICATION
        const char text[] = "ORVEX CR-10 1.3.2 CR0000004711";
        return reply(std::vector<std::uint8_t>(text, text + sizeof text - 1));
    }
    case 0x14: // ENABLE CR
        if (parameters < 1 || busy || m_readerBase == 0x10)
            return invalid();
        m_readerEnabled = frame[4] != 0;
        if (m_readerBase == 1 || m_readerBase == 5)
            m_readerBase = m_readerEnabled ? 5 : 1;
        return reply(Ack());
    case 0x13: {
        if (parameters < 1 || busy || m_readerBase == 0x10)
            return invalid();
        std::uint8_t sub = frame[4];
        switch (sub) {
        case 0x00: { // GET FUNDS
            std::vector<std::uint8_t> data { 0xE0 };
            if (m_readerBase == 7) {
                std::string currency = m_bills.empty() ? "USD" : m_bills[0].country;
                data.insert(data.end(), currency.begin(), currency.begin() + 3);
                Append32(data, m_readerFunds);
                data.push_back(2);
            }
            return reply(data);
        }
        case 0x01:
        case 0x02: { // VEND/REQUEST
            if (parameters < 10)
                return invalid();
            std::uint32_t amount = Read32(frame, 6);
            if (m_readerBase != 7 || amount > m_readerFunds)
                return reply({ kNakCode }); // refused
            m_readerFunds -= amount;
            return reply(Ack());
        }
        case 0x03: // VEND/CANCEL
            m_readerCancelPending = true;
            return reply(Ack());
        case 0x04: // END SESSION
            m_readerBase = m_readerEnabled ? 5 : 1;
            m_readerFunds = 0;
            return reply(Ack());
        case 0x10: // START SESSION
            if (m_readerBase != 1 && m_readerBase != 5)
                return invalid();
            m_readerBase = 7;
            m_readerFunds = kSessionFunds;
            return reply(Ack());
        default:
            return invalid();
        }
    }
    default:
        return invalid();
    }
}

// ---- Control -----------------------------------------------------------

std::string CSimDevice::Describe(int type) const
{
    std::string text = "bill type " + std::to_string(type);
    if (type == kSimCouponType)
        return text + " (barcode coupon)";
    if (type >= 0 && type < static_cast<int>(m_bills.size()) && m_bills[static_cast<std::size_t>(type)].digits != 0)
        return text + " (" + m_bills[static_cast<std::size_t>(type)].ValueText() + " " + m_bills[static_cast<std::size_t>(type)].country + ")";
    return text + " (not in the bill table)";
}

std::string CSimDevice::StateName(std::uint8_t state) const
{
    switch (state) {
    case 0x10: return "POWER UP";
    case 0x11: return "POWER UP WITH BILL IN CHANNEL";
    case 0x12: return "POWER UP WITH BILL IN STACKER";
    case 0x13: return "INITIALIZING";
    case 0x14: return "IDLING";
    case 0x15: return "ACCEPTING";
    case 0x17: return "STACKING";
    case 0x18: return "RETURNING";
    case 0x19: return "DISABLED";
    case 0x1B: return "BUSY";
    case 0x1C: return "REJECTING";
    case 0x1D: return "DISPENSING";
    case 0x1E: return "UNLOADING";
    case 0x21: return "SETTING CASSETTE TYPE";
    case 0x25: return "DISPENSED";
    case 0x26: return "UNLOADED";
    case 0x28: return "INVALID BILL NUMBER";
    case 0x29: return "CASSETTE TYPE IS SET";
    case 0x41: return "BOX FULL";
    case 0x42: return "BOX REMOVED";
    case 0x43: return "JAM IN ACCEPTOR";
    case 0x44: return "JAM IN STACKER";
    case 0x45: return "CHEATED";
    case 0x46: return "PAUSED";
    case 0x47: return "FAILURE";
    case 0x80: return "ESCROW";
    case 0x81: return "STACKED";
    case 0x82: return "RETURNED";
    default: {
        char text[8];
        std::snprintf(text, sizeof text, "%02X", state);
        return text;
    }
    }
}

std::string CSimDevice::InsertBill(int type, const std::string& barcode, Clock::time_point now)
{
    const char* word = type == kSimCouponType && !barcode.empty() ? "insert-barcode" : "insert";
    std::string prefix = std::string("error: ") + word + ": ";
    if (m_ledger.inChannel > 0)
        return prefix + "a bill is already in the acceptor";
    if (!AtRest() || m_enableMask == 0 || Frozen(now))
        return prefix + "the unit takes no bill now (" + StateName(CurrentPoll(now).state) + ")";
    ++m_ledger.inserted;
    m_ledger.inChannel = 1;
    Count(m_statistics.inserted);
    m_channelType = type;
    m_channelBarcode = barcode;
    m_rejectReason = 0;
    bool known = type == kSimCouponType || (type < static_cast<int>(m_bills.size()) && m_bills[static_cast<std::size_t>(type)].digits != 0);
    if (!known) {
        m_rejectReason = 0x65; // identification error
        Count(m_statistics.unrecognized);
    } else if (type == kSimCouponType && barcode.empty()) {
        m_rejectReason = 0x92; // unrecognized barcode
    } else if (type == kSimCouponType && m_barLength != 0 && barcode.size() != m_barLength) {
        m_rejectReason = 0x93; // invalid barcode length
    } else if ((m_enableMask & (1u << type)) == 0) {
        m_rejectReason = 0x68; // denomination inhibited
    }
    m_toEscrow = (m_escrowMask & (1u << type)) != 0;
    Enter(SimPhase::Accepting, now);
    std::string outcome = m_rejectReason != 0 ? "it will be rejected" : m_toEscrow ? "it will wait in escrow" : "it will be stacked";
    return "ok: " + Describe(type) + " accepting, " + outcome;
}

std::string CSimDevice::Control(const SimControlCommand& command, Clock::time_point now)
{
    Settle(now);
    switch (command.verb) {
    case SimControlVerb::Insert:
        return InsertBill(command.number, {}, now);
    case SimControlVerb::InsertBarcode:
        return InsertBill(kSimCouponType, command.text, now);
    case SimControlVerb::Auto:
        m_autoSeconds = command.seconds;
        m_nextAuto = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(command.seconds));
        if (command.seconds <= 0)
            return "ok: automatic bills off";
        {
            char text[64];
            std::snprintf(text, sizeof text, "ok: a random enabled bill every %g s", command.seconds);
            return text;
        }
    case SimControlVerb::Take: {
        if (m_ledger.inDispenser == 0)
            return "error: take: the dispenser is empty";
        long bills = m_ledger.inDispenser;
        for (auto& waiting : m_dispenser) {
            m_ledger.dispensed += waiting;
            waiting = 0;
        }
        m_ledger.inDispenser = 0;
        m_taken = true;
        Settle(now);
        return "ok: " + std::to_string(bills) + " bills taken";
    }
    case SimControlVerb::Jam: {
        if (m_phase == SimPhase::PowerUp)
            return "error: jam: the unit is powering up";
        int code = command.number;
        if (code == kSimJamAuto)
            code = m_phase == SimPhase::Stacking ? kSimJamStacker : kSimJamAcceptor;
        m_failure = static_cast<std::uint8_t>(code);
        Count(m_statistics.failures[code == kSimJamStacker ? kJamDropCassette : kJamInputAligning]);
        return "ok: " + StateName(m_failure) + " until RESET";
    }
    case SimControlVerb::BoxRemove:
        if (m_boxRemoved)
            return "error: box-remove: the drop box is already out";
        m_boxRemoved = true;
        return "ok: drop box removed";
    case SimControlVerb::BoxInsert:
        if (!m_boxRemoved)
            return "error: box-insert: the drop box is already in";
        m_boxRemoved = false;
        return "ok: drop box inserted";
    case SimControlVerb::PowerCut: {
        std::string was = StateName(CurrentPoll(now).state);
        Interrupt(now, true);
        m_enableMask = 0;
        m_escrowMask = 0;
        m_busyUntil = {};
        m_testCode = 0;
        m_readerBase = 0x10;
        m_readerEnabled = false;
        m_readerCancelPending = false;
        m_readerFunds = 0;
        m_readerBusyUntil = {};
        Enter(SimPhase::PowerUp, now);
        char record[8];
        std::snprintf(record, sizeof record, "%02X", m_recovery.empty() ? 0 : m_recovery[0]);
        return "ok: power cut while " + was + ", now " + StateName(m_powerUpCode) + ", recovery record " + record;
    }
    case SimControlVerb::Silent:
        m_silent = command.on;
        return command.on ? "ok: silent" : "ok: answering again";
    case SimControlVerb::Corrupt:
        m_corruptNext = true;
        return "ok: the next reply gets a wrong check code";
    case SimControlVerb::Garbage:
        m_garbageNext = true;
        return "ok: the next reply is noise";
    case SimControlVerb::Nak:
        m_nakNext = true;
        return "ok: the next command gets NAK";
    case SimControlVerb::Busy:
        m_busyUntil = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(command.seconds));
        return command.seconds > 0 ? "ok: busy" : "ok: not busy";
    case SimControlVerb::Fail:
        if (m_phase == SimPhase::PowerUp)
            return "error: fail: the unit is powering up";
        m_failure = static_cast<std::uint8_t>(command.number);
        m_failureDetail[0] = static_cast<std::uint8_t>(command.second >= 0 ? command.second : 0x50);
        m_failureDetail[1] = static_cast<std::uint8_t>(command.third >= 0 ? command.third : 0x00);
        if (m_failure == 0x47) {
            switch (m_failureDetail[0]) {
            case 0x50: Count(m_statistics.failures[kFailureStacking]); break;
            case 0x51:
            case 0x52: Count(m_statistics.failures[kFailureTransport]); break;
            case 0x53: Count(m_statistics.failures[kFailureAligning]); break;
            case 0x65: Count(m_statistics.failures[kFailureOptical]); break;
            case 0x66: Count(m_statistics.failures[kFailureMagnetic]); break;
            default: break;
            }
        }
        return "ok: " + StateName(m_failure) + " until RESET";
    case SimControlVerb::State:
        return StateLine(now);
    case SimControlVerb::Help:
        return "ok: insert TYPE, insert-barcode TEXT, auto SECONDS, take, jam [acceptor|stacker], box-remove, box-insert, "
               "power-cut, silent on|off, corrupt next, garbage next, nak next, busy SECONDS, fail CODE [Z2 [Z3]], state, quit";
    case SimControlVerb::Quit:
        return "ok: quit";
    }
    return "error: unknown command";
}

void CSimDevice::Advance(Clock::time_point now)
{
    Settle(now);
    if (m_autoSeconds <= 0 || now < m_nextAuto)
        return;
    m_nextAuto = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_autoSeconds));
    if (!AtRest() || m_enableMask == 0 || Frozen(now) || m_ledger.inChannel > 0)
        return;
    std::vector<int> enabled;
    for (int type = 0; type < kSimCouponType && type < static_cast<int>(m_bills.size()); ++type)
        if (m_bills[static_cast<std::size_t>(type)].digits != 0 && (m_enableMask & (1u << type)) != 0)
            enabled.push_back(type);
    if (enabled.empty())
        return;
    std::uniform_int_distribution<std::size_t> pick(0, enabled.size() - 1);
    InsertBill(enabled[pick(m_random)], {}, now);
}

SimSnapshot CSimDevice::Snapshot(Clock::time_point now)
{
    Settle(now);
    SimSnapshot snapshot;
    PollState poll = CurrentPoll(now);
    snapshot.state = poll.state;
    snapshot.subState = poll.detail.empty() ? 0 : poll.detail[0];
    snapshot.stateName = StateName(poll.state);
    snapshot.ledger = m_ledger;
    snapshot.enableMask = m_enableMask;
    snapshot.escrowMask = m_escrowMask;
    snapshot.boxRemoved = m_boxRemoved;
    snapshot.silent = m_silent;
    snapshot.recoveryState = m_recovery.empty() ? 0 : m_recovery[0];
    snapshot.readerState = m_options.cardReader ? ReaderState(now) : 0;
    snapshot.framesReceived = m_framesReceived;
    snapshot.exchangesAnswered = m_exchangesAnswered;
    snapshot.framesSkipped = m_framesSkipped;
    return snapshot;
}

std::string CSimDevice::StateLine(Clock::time_point now)
{
    SimSnapshot snapshot = Snapshot(now);
    const SimLedger& ledger = snapshot.ledger;
    char head[96];
    std::snprintf(head, sizeof head, "ok: %s enable=%06X escrow=%06X", snapshot.stateName.c_str(), snapshot.enableMask,
        snapshot.escrowMask);
    std::string line = head;
    if (m_cyclor) {
        line += " cassettes=";
        for (int index = 0; index < kSimCassettes; ++index) {
            const auto& cassette = ledger.cassettes[static_cast<std::size_t>(index)];
            if (index > 0)
                line += ",";
            line += std::to_string(index + 1) + ":t" + std::to_string(cassette.type) + "=" + std::to_string(cassette.count) + "/"
                + std::to_string(cassette.capacity) + (cassette.full ? "F" : "");
        }
    }
    line += " dropbox=" + std::to_string(ledger.dropBox) + " returned=" + std::to_string(ledger.returned)
        + " dispensed=" + std::to_string(ledger.dispensed) + " dispenser=" + std::to_string(ledger.inDispenser)
        + " channel=" + std::to_string(ledger.inChannel) + " inserted=" + std::to_string(ledger.inserted)
        + " initial=" + std::to_string(ledger.initial) + " unloaded=" + std::to_string(ledger.unloaded)
        + " answered=" + std::to_string(snapshot.exchangesAnswered) + " balanced=" + (ledger.Balanced() ? "yes" : "NO");
    if (snapshot.boxRemoved)
        line += " box=out";
    if (snapshot.silent)
        line += " silent";
    return line;
}

} // namespace orvex
