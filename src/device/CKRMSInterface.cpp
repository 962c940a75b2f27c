#include "device/CKRMSInterface.h"

#include "link/WireVocabulary.h"

#include <algorithm>
#include <ctime>

namespace orvex {

namespace {

// POWER RECOVERY states the start-up turns into events.
constexpr std::uint8_t kRecoveryStacking = wire::kStacking;
constexpr std::uint8_t kRecoveryDispensing = wire::kDispensing;
constexpr std::uint8_t kRecoveryUnloading = wire::kUnloading;
constexpr int kRecoveryCapacity = 32;

struct StateFlag {
    int bit;
    std::uint8_t first;
    std::uint8_t last;
    bool atOnce; // reader waits: a match ends the wait before its sleep
};

constexpr StateFlag kDeviceFlags[] {
    { 0, wire::kIdling, wire::kIdling, false },
    { 1, wire::kPowerUp, wire::kPowerUpWithBillInStacker, false },
    { 2, wire::kAccepting, wire::kAccepting, false },
    { 3, wire::kInitializing, wire::kInitializing, false },
    { 4, wire::kStacking, wire::kStacking, false },
    { 5, wire::kReturning, wire::kReturning, false },
    { 6, wire::kDisabled, wire::kDisabled, false },
    { 7, wire::kHolding, wire::kHolding, false },
    { 8, wire::kRejecting, wire::kRejecting, false },
    { 9, wire::kDispensing, wire::kDispensing, false },
    { 10, wire::kUnloading, wire::kUnloading, false },
    { 11, wire::kState1F, wire::kState1F, false },
    { 12, wire::kState20, wire::kState20, false },
    { 13, wire::kDispensed, wire::kDispensed, false },
    { 14, wire::kUnloaded, wire::kUnloaded, false },
    { 15, wire::kState27, wire::kState27, false },
    { 17, wire::kInvalidBillNumber, wire::kInvalidBillNumber, false },
    { 17, wire::kInvalidCommand, wire::kInvalidCommand, false },
    { 17, wire::kBoxFull, wire::kState48, false },
    { 18, wire::kBillStacked, wire::kBillStacked, false },
    { 19, wire::kEscrowPosition, wire::kEscrowPosition, false },
    { 20, wire::kBillReturned, wire::kBillReturned, false },
    { 21, wire::kSettingCassetteType, wire::kSettingCassetteType, false },
    { 22, wire::kCassetteTypeSet, wire::kCassetteTypeSet, false },
    { 23, wire::kSettingCassetteType, wire::kSettingCassetteType, false },
    { 24, wire::kState22, wire::kState22, false },
};

constexpr StateFlag kReaderFlags[] {
    { 17, wire::kInvalidCommand, wire::kInvalidCommand, true },
    { 17, wire::kBoxFull, wire::kState48, true },
    { 25, wire::kReaderInactive, wire::kReaderInactive, true },
    { 0, wire::kReaderState06, wire::kReaderState06, true },
    { 1, wire::kReaderInactive, wire::kReaderInactive, false },
    { 2, wire::kAccepting, wire::kAccepting, false },
    { 29, wire::kAccepting, wire::kAccepting, false },
    { 3, wire::kInitializing, wire::kInitializing, false },
    { 27, wire::kInitializing, wire::kInitializing, false },
    { 4, wire::kStacking, wire::kStacking, false },
    { 31, wire::kStacking, wire::kStacking, false },
    { 5, wire::kReturning, wire::kReturning, false },
    { 6, wire::kReaderEnabled, wire::kReaderEnabled, false },
    { 7, wire::kHolding, wire::kHolding, false },
    { 8, wire::kRejecting, wire::kRejecting, false },
    { 9, wire::kDispensing, wire::kDispensing, false },
    { 10, wire::kUnloading, wire::kUnloading, false },
    { 11, wire::kState1F, wire::kState1F, false },
    { 12, wire::kState20, wire::kState20, false },
    { 13, wire::kDispensed, wire::kDispensed, false },
    { 14, wire::kUnloaded, wire::kUnloaded, false },
    { 21, wire::kSettingCassetteType, wire::kSettingCassetteType, true },
    { 23, wire::kSettingCassetteType, wire::kSettingCassetteType, false },
    { 24, wire::kState22, wire::kState22, false },
    { 26, wire::kPowerUpWithBillInStacker, wire::kPowerUpWithBillInStacker, true },
    { 28, wire::kIdling, wire::kIdling, false },
    { 30, wire::kReaderState16, wire::kReaderState16, false },
    { 22, wire::kCassetteTypeSet, wire::kCassetteTypeSet, true },
    { 19, wire::kEscrowPosition, wire::kEscrowPosition, true },
    { 20, wire::kBillReturned, wire::kBillReturned, false },
};

enum class Match { None, Reached, AtOnce };

template <std::size_t N>
Match MatchState(const StateFlag (&table)[N], int flags, std::uint8_t state)
{
    auto bits = static_cast<std::uint32_t>(flags);
    Match result = Match::None;
    for (const StateFlag& flag : table) {
        if (!((bits >> flag.bit) & 1u) || state < flag.first || state > flag.last)
            continue;
        if (flag.atOnce)
            return Match::AtOnce;
        result = Match::Reached;
    }
    return result;
}

bool DeviceStateMatches(int flags, std::uint8_t state)
{
    // BUSY ends no wait, whatever the caller asked for.
    if (state == wire::kBusy)
        return false;
    return MatchState(kDeviceFlags, flags, state) != Match::None;
}

bool ReaderStateAccepted(int state)
{
    return state == wire::kReaderInactive || (state >= wire::kReaderEnabled && state <= wire::kReaderSetUp)
        || (state >= wire::kReaderPowerUp && state <= wire::kReaderPowerUpLast);
}

// Codes of the funds table may carry the padding of a fixed field.
std::string TrimmedCode(const std::string& code)
{
    return code.substr(0, code.find('\0'));
}

} // namespace

CKRMSInterface::CKRMSInterface(CPortTable table)
    : m_protocol(std::move(table))
{
}

CKRMSInterface::CKRMSInterface(std::unique_ptr<CCOMPort> port)
    : m_protocol(std::move(port))
{
}

CKRMSInterface::~CKRMSInterface() = default;

int CKRMSInterface::CommandFailure() const
{
    // A command the engine refused before sending leaves no code; it is
    // still no success.
    int code = m_protocol.GetLastResultCode();
    return code != 0 ? code : kInvalidCommand;
}

int CKRMSInterface::WaitFailure() const
{
    int code = m_waitFailure.load();
    return code != 0 ? code : kStateNotReached;
}

bool CKRMSInterface::ReaderExchangeFailed(int pollResult) const
{
    // -8 with a good exchange is a reply naming an unlisted state; only a
    // failed exchange leaves a code behind.
    return pollResult != 0 && m_protocol.GetLastResultCode() != 0;
}

// ---- Waits ---------------------------------------------------------------

int CKRMSInterface::WaitState(int flags, int timeoutSeconds, int address)
{
    const auto interval = std::chrono::milliseconds(GetPollInterval());
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(timeoutSeconds);
    auto nextPoll = start + interval;
    bool matched = false;
    m_waitFailure.store(0);
    while (!matched && Clock::now() < deadline) {
        if (StopRequested())
            return 0;
        if (Clock::now() < nextPoll)
            SleepUntil(nextPoll);
        if (StopRequested())
            return 0;
        // Poll start to poll start: the time the exchange takes is part of
        // the interval, not added to it.
        nextPoll = Clock::now() + interval;
        if (!m_protocol.Poll(address)) {
            SetLastPoll({});
            m_waitFailure.store(m_protocol.GetLastResultCode());
            return 0;
        }
        CKRMSProtocol::PollReply reply = m_protocol.GetLastPoll();
        SetLastPoll({ reply.state, reply.subState, reply.third });
        matched = DeviceStateMatches(flags, reply.state);
    }
    return matched ? 1 : 0;
}

int CKRMSInterface::WaitReaderState(int flags, int timeoutMilliseconds)
{
    const auto interval = std::chrono::milliseconds(GetPollInterval());
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMilliseconds);
    auto nextPoll = start + interval;
    bool matched = false;
    while (!matched && Clock::now() < deadline) {
        if (StopRequested())
            return 0;
        int state = 0;
        int subState = 0;
        int result = PollReader(state, subState);
        if (ReaderExchangeFailed(result)) {
            SetLastReaderPoll({ static_cast<std::uint8_t>(result & 0xFF), 0, 0 });
            if (flags != -1)
                return 0;
        } else {
            Match match = MatchState(kReaderFlags, flags, static_cast<std::uint8_t>(state));
            if (match == Match::AtOnce)
                return 1;
            matched = match == Match::Reached;
        }
        if (Clock::now() < nextPoll)
            SleepUntil(nextPoll);
        nextPoll = Clock::now() + interval;
    }
    return matched ? 1 : 0;
}

int CKRMSInterface::WaitReady(int timeoutSeconds, int address)
{
    if (!WaitState(0x20043, timeoutSeconds, address))
        return WaitFailure();
    std::uint8_t state = LastState();
    if (state == 0)
        return kStateNotReached;
    if (state == wire::kIdling || state == wire::kDisabled)
        return 0;
    return kStateNotAccepted;
}

// ---- Single commands -----------------------------------------------------

int CKRMSInterface::ReadBarcode(std::string& text, int address)
{
    text.clear();
    return m_protocol.ExtractBarcode(text, address) ? 1 : 0;
}

void CKRMSInterface::Log(const std::string& line)
{
    if (COutputInterface* observer = m_protocol.GetObserver())
        observer->OutputLine(line);
}

int CKRMSInterface::OpenPort(int portIndex, int responseTimeout)
{
    return m_protocol.OpenPort(portIndex, responseTimeout);
}

void CKRMSInterface::SetIntercommandInterval(int milliseconds)
{
    m_protocol.SetIntercommandInterval(milliseconds);
}

int CKRMSInterface::ReaderSession(int start)
{
    bool done = (start & 0xFF) != 0 ? m_protocol.StartSession() : m_protocol.EndSession();
    return done ? 0 : CommandFailure();
}

int CKRMSInterface::EnableReader(int mode)
{
    return m_protocol.EnableCR(static_cast<std::uint8_t>(mode)) ? 0 : CommandFailure();
}

int CKRMSInterface::Download(const std::uint8_t*, int)
{
    return m_protocol.GetLastResultCode();
}

int CKRMSInterface::Poll(int& state, int& subState, int address)
{
    if (!m_protocol.Poll(address)) {
        state = 0;
        subState = 0;
        return CommandFailure();
    }
    CKRMSProtocol::PollReply reply = m_protocol.GetLastPoll();
    SetLastPoll({ reply.state, reply.subState, reply.third });
    state = reply.state;
    subState = reply.subState;
    return reply.state == wire::kPollEcho ? kPollBusy : 0;
}

int CKRMSInterface::PollReader(int& state, int& subState)
{
    if (!m_protocol.PollCR()) {
        state = 0;
        subState = 0;
        SetLastReaderPoll({});
        return CommandFailure();
    }
    CKRMSProtocol::PollReply reply = m_protocol.GetLastReaderPoll();
    SetLastReaderPoll({ reply.state, reply.subState, 0 });
    state = reply.state;
    subState = reply.subState;
    return ReaderStateAccepted(state) ? 0 : kPollBusy;
}

int CKRMSInterface::GetStatus(std::uint32_t& enabled, std::uint32_t& security, std::uint32_t& routed, int address)
{
    if (!m_protocol.StatusRequest(address)) {
        enabled = 0;
        security = 0;
        routed = 0;
        return CommandFailure();
    }
    std::array<std::uint32_t, 3> words = m_protocol.GetStatusWords();
    enabled = words[0];
    security = words[1];
    routed = words[2];
    SetRoutedFlags(routed);
    return 0;
}

int CKRMSInterface::EnableBills(std::uint32_t& enabled, std::uint32_t escrowMask, int address)
{
    if (!m_protocol.BillType(enabled, escrowMask, address))
        return CommandFailure();
    std::uint32_t security = 0;
    std::uint32_t routed = 0;
    GetStatus(enabled, security, routed, address);
    return 0;
}

int CKRMSInterface::BusReset(int address)
{
    Log("== BUS RESET ==");
    m_protocol.LineResetPulse();
    SleepFor(2500);
    return m_protocol.Reset(address) ? 0 : CommandFailure();
}

// ---- Bill handling -------------------------------------------------------

int CKRMSInterface::StackBill(int address)
{
    if (!WaitState(0xA011B, 2, address))
        return kStateNotReached;
    std::uint8_t state = LastState();
    if (state == wire::kEscrowPosition) {
        if (!m_protocol.Pack(address))
            return CommandFailure();
        if (!WaitState(0x2001A, 2, address))
            return kStateNotReached;
        if (LastState() != wire::kStacking)
            return kStateNotAccepted;
    } else if (state != wire::kStacking) {
        return kStateNotAccepted;
    }
    if (!WaitState(0x6000A, 10, address))
        return kStateNotReached;
    return LastState() == wire::kBillStacked ? 0 : kStateNotAccepted;
}

int CKRMSInterface::ReturnBill(int address)
{
    if (!WaitState(0xA0002, 5, address))
        return kStateNotReached;
    std::uint8_t state = LastState();
    if (state < wire::kEscrowPosition || state > wire::kLastBillEvent)
        return kStateNotAccepted;
    EscrowNotify(state & wire::kBillEventTypeMask);
    if (!m_protocol.Return(address))
        return CommandFailure() + kCommandErrorBase;
    if (!WaitState(0x20022, 2, address))
        return kStateNotReached;
    if (LastState() != wire::kReturning)
        return kStateNotAccepted;
    if (!WaitState(0x120002, 60, address))
        return kStateNotReached;
    return LastState() == wire::kBillReturned ? 0 : kStateNotAccepted;
}

// ---- Initialisation ------------------------------------------------------

int CKRMSInterface::InitValidator(int address)
{
    if (!WaitState(-1, 2, address))
        return WaitFailure();
    std::uint8_t state = LastState();
    if (state >= wire::kPowerUp && state <= wire::kPowerUpWithBillInStacker && !m_protocol.Reset(address))
        return CommandFailure();

    // A wait that runs out sends nothing more: the device is not ready.
    if (!WaitState(0x20041, 600, address))
        return WaitFailure();
    state = LastState();
    if (state == 0)
        return kStateNotReached;
    if (state == wire::kIdling) {
        if (!m_protocol.BillType(0, 0, address))
            return CommandFailure();
        if (!WaitState(0x20042, 600, address))
            return WaitFailure();
        state = LastState();
        if (state == 0)
            return kStateNotReached;
        if (state != wire::kDisabled)
            return kStateNotAccepted;
    }

    if (!m_protocol.Identification(address))
        return CommandFailure();
    std::string part = m_protocol.GetPartNumber();
    SetDeviceText(part.size() > 3 ? part.substr(3) : std::string());
    return 0;
}

int CKRMSInterface::InitRecycler(std::uint32_t security, std::uint8_t barcodeLength, std::uint32_t options, int address, int reset)
{
    if (!WaitState(-1, 1, address))
        return WaitFailure();

    if (reset == 0) {
        InitValidator(address);
    } else {
        if (LastState() != wire::kInitializing && !m_protocol.Reset(address))
            return CommandFailure();
        if (!WaitState(0x2004A, 100, address))
            return WaitFailure();
        std::uint8_t state = LastState();
        if (state == 0)
            return kStateNotReached;
        if (state != wire::kInitializing && state != wire::kDisabled)
            return kStateNotAccepted;
        if (int result = WaitReady(600, address))
            return result;
        if (!m_protocol.Identification(address))
            return CommandFailure();
    }

    if (int result = WaitReady(600, address))
        return result;
    m_protocol.SetSecurity(security, address);

    if (int result = WaitReady(600, address))
        return result;
    m_protocol.StatusRequest(address);

    if (int result = WaitReady(600, address))
        return result;
    std::array<BillTypeEntry, kBillTypes> table = GetBillTable();
    m_protocol.BillTable(table.data(), address);
    SetBillValues(table);
    for (const BillTypeEntry& entry : table) {
        if (entry.value != 0.0f) {
            SetDeviceText(entry.country);
            break;
        }
    }

    if (int result = WaitReady(10, address))
        return result;
    if (!m_protocol.SetBarParameters(1, barcodeLength, address) && m_protocol.GetLastResultCode() != kInvalidCommand)
        return CommandFailure();

    if (int result = WaitReady(10, address))
        return result;
    if (address == wire::kCyclorAddress) {
        m_protocol.ExtendedIdentification(address);
        CheckClock();

        // A failed exchange leaves nothing to replay: an old buffer read
        // again would report events that did not happen.
        m_recoveryState = 0;
        int count = kRecoveryCapacity;
        m_recoveryLength = kRecoveryCapacity;
        bool recovered = m_protocol.PowerRecovery(m_recoveryState, m_recoveryBuffer.data(), kRecoveryCapacity, count);
        m_recoveryLength = recovered ? std::clamp(count, 0, kRecoveryCapacity) : 0;
        if (m_recoveryState == wire::kCutWhileDispensing)
            m_protocol.EmptyDispenser();

        std::uint32_t current = 0;
        if (m_protocol.GetOptions(current, address))
            m_protocol.SetOptions(options, address);
    }
    return 0;
}

int CKRMSInterface::CheckClock()
{
    std::time_t unitTime = 0;
    if (m_protocol.GetCyTime(unitTime)) {
        long long hours = static_cast<long long>(std::time(nullptr) - unitTime) / 3600;
        if (hours > -1 && hours < 1)
            return 0;
    } else if (m_protocol.GetLastResultCode() != 0) {
        return m_protocol.GetLastResultCode();
    }
    // Here the clocks differ by an hour or more, or the unit answered that
    // it has no valid time at all; either way it gets ours.
    if (!m_protocol.SetCyTime(std::time(nullptr)))
        return CommandFailure();
    return 0;
}

int CKRMSInterface::NextRecoveryEvent()
{
    // Events are taken two bytes at a time from the end; a lone byte left
    // over cannot make one and is never read.
    switch (m_recoveryState) {
    case 0:
    case kRecoveryUnloading:
        return 0;
    case kRecoveryStacking:
        if (m_recoveryLength < 2)
            return 0;
        m_recoveryLength -= 2;
        return m_recoveryBuffer[static_cast<std::size_t>(m_recoveryLength)] * 256 + kRecoveryStacking;
    case kRecoveryDispensing: {
        if (m_recoveryLength < 2)
            return 0;
        m_recoveryLength -= 2;
        auto at = static_cast<std::size_t>(m_recoveryLength);
        return m_recoveryBuffer[at] * 65536 + m_recoveryBuffer[at + 1] * 256 + kRecoveryDispensing;
    }
    default:
        return m_recoveryState;
    }
}

// ---- Cassettes -----------------------------------------------------------

int CKRMSInterface::GetCassettes(CassetteRecord records[kCassettes], int address)
{
    std::array<CassetteRecord, kCassettes> scratch;
    CassetteRecord* target = records ? records : scratch.data();
    if (address != wire::kCyclorAddress) {
        for (int i = 0; i < kCassettes; ++i) {
            target[i].status = kCassetteNoCassettes;
            target[i].billCount = 0;
            target[i].billType = static_cast<std::uint8_t>(i);
            target[i].escrowMark = 0;
        }
        return 0;
    }
    if (!WaitState(0xA0057, 5000, address))
        return kStateNotAccepted;
    std::uint8_t state = LastState();
    if (state != wire::kIdling && state != wire::kDisabled && state != wire::kEscrowPosition)
        return kStateNotAccepted;

    std::uint32_t enabled = 0;
    std::uint32_t security = 0;
    std::uint32_t routed = 0;
    GetStatus(enabled, security, routed, address);
    if (!m_protocol.GetCassetteStatus()) {
        for (int i = 0; i < kCassettes; ++i) {
            target[i].status = kCassetteUnknown;
            target[i].billCount = 0;
            target[i].billType = 255;
            target[i].escrowMark = 0;
        }
        return CommandFailure();
    }
    std::array<CassetteRecord, kCassettes> table = m_protocol.GetCassetteTable();
    for (int i = 0; i < kCassettes; ++i) {
        const CassetteRecord& read = table[static_cast<std::size_t>(i)];
        target[i].billCount = read.billCount;
        target[i].billType = read.billType;
        if (read.billType == 24) {
            target[i].status = kCassetteEscrowType;
            target[i].escrowMark = 1;
        } else {
            target[i].status = read.status;
            target[i].escrowMark = 0;
        }
    }
    return 0;
}

int CKRMSInterface::SetCassetteType(int cassetteIndex, int typeFlags)
{
    if (cassetteIndex < 0 || cassetteIndex >= kCassettes)
        return kInvalidCommand;
    int mode = 0;
    std::uint8_t type = static_cast<std::uint8_t>(typeFlags & 0x1F);
    if (typeFlags & 0x40) {
        mode = 0xFC;
        type = 24;
    } else if (typeFlags & 0x80) {
        mode = 0xFD;
    }
    int state = 0;
    int subState = 0;
    Poll(state, subState, wire::kCyclorAddress);
    Poll(state, subState, wire::kCyclorAddress);
    if (!m_protocol.SetCassetteType(cassetteIndex, mode, type))
        return CommandFailure();
    if (!WaitState(0x620002, 2, wire::kCyclorAddress))
        return kStateNotReached;
    if (LastState() == wire::kSettingCassetteType) {
        if (!WaitState(0x420043, 600, wire::kCyclorAddress))
            return kStateNotReached;
        if (LastState() == wire::kCassetteTypeSet)
            WaitState(0x20041, 2, wire::kCyclorAddress);
    }
    return 0;
}

int CKRMSInterface::DisableForCassettes()
{
    if (!WaitState(0xA0047, 10, wire::kCyclorAddress))
        return kStateNotReached;
    std::uint8_t state = LastState();
    if (state == wire::kAccepting || state == wire::kEscrowPosition)
        ReturnBill(wire::kCyclorAddress);
    else if (state != wire::kIdling && state != wire::kDisabled)
        return kStateNotAccepted;

    std::uint32_t nothing = 0;
    EnableBills(nothing, 0, wire::kCyclorAddress);
    if (!WaitState(0x20042, 10, wire::kCyclorAddress))
        return kStateNotReached;
    state = LastState();
    if (state == wire::kIdling) {
        nothing = 0;
        EnableBills(nothing, 0, wire::kCyclorAddress);
    } else if (state != wire::kDisabled) {
        return kStateNotAccepted;
    }
    return 0;
}

int CKRMSInterface::Unload(const std::uint8_t counts[kCassettes])
{
    if (!counts)
        return 0;
    if (int result = DisableForCassettes())
        return result;
    std::array<CassetteRecord, kCassettes> before;
    GetCassettes(before.data(), wire::kCyclorAddress);

    if (!WaitState(0x20043, 10, wire::kCyclorAddress))
        return kStateNotReached;
    std::uint8_t state = LastState();
    if (state != wire::kIdling && state != wire::kDisabled)
        return kStateNotAccepted;

    int cassette = kCassettes - 1;
    while (cassette >= 0 && counts[cassette] == 0)
        --cassette;
    if (cassette < 0)
        return 0;
    if (!m_protocol.Unload(cassette, counts[cassette]))
        return CommandFailure();

    if (!WaitState(0x20402, 5, wire::kCyclorAddress))
        return kStateNotReached;
    if (LastState() != wire::kUnloading)
        return kStateNotAccepted;
    // An unload that never finishes is not a success, whatever the POLLs said.
    if (!WaitState(0x2404B, 600, wire::kCyclorAddress))
        return kStateNotReached;
    PollReply reply = GetLastPoll();
    if (reply.state != wire::kUnloaded)
        return kStateNotAccepted;
    // UNLOADED carries the number of bills moved. A unit that gives no
    // count says 0; any other count than the one asked for means too few
    // or too many bills left the cassette.
    const int asked = counts[cassette];
    int result = reply.subState == 0 || reply.subState == asked ? 0 : kExecutionError;

    SleepFor(700);
    std::array<CassetteRecord, kCassettes> after;
    GetCassettes(after.data(), wire::kCyclorAddress);
    return result;
}

int CKRMSInterface::Dispense(const std::uint8_t request[25])
{
    if (!request)
        return 0;
    std::array<CassetteRecord, kCassettes> before;
    if (int result = GetCassettes(before.data(), wire::kCyclorAddress))
        return result;
    if (int result = DisableForCassettes())
        return result;
    if (!m_protocol.Dispense(request))
        return CommandFailure();

    if (!WaitState(0x22202, 10, wire::kCyclorAddress))
        return kStateNotReached;
    std::uint8_t state = LastState();
    if (state == wire::kDispensing) {
        if (!WaitState(0x2204B, 300, wire::kCyclorAddress))
            return kStateNotReached;
        if (LastState() != wire::kDispensed)
            return kStateNotAccepted;
    } else if (state == wire::kInvalidBillNumber) {
        return kExecutionError;
    } else if (state != wire::kDispensed) {
        return kStateNotAccepted;
    }

    SleepFor(100);
    std::array<CassetteRecord, kCassettes> after;
    GetCassettes(after.data(), wire::kCyclorAddress);
    return 0;
}

// ---- Card reader ---------------------------------------------------------

int CKRMSInterface::SetupReader(std::uint8_t scale, const std::string& currency)
{
    int state = 0;
    int subState = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0)
            SleepFor(200);
        if (PollReader(state, subState) == 0)
            break;
    }
    SleepFor(300);

    if (GetLastReaderPoll().state != wire::kReaderInactive && !m_protocol.Reset(wire::kCardReaderAddress))
        return CommandFailure();
    // A reader in a state that ends no wait (set up already, busy) has
    // nothing more to be told.
    if (!WaitReaderState(-1, 10))
        return m_protocol.GetLastResultCode();

    while (GetLastReaderPoll().state == wire::kReaderBusy) {
        if (ClosingRequested() || StopRequested())
            return 0;
        SleepFor(200);
        int result = PollReader(state, subState);
        if (ReaderExchangeFailed(result))
            return CommandFailure();
    }

    std::uint8_t readerState = GetLastReaderPoll().state;
    if (readerState == wire::kReaderSetUp)
        return 0;
    if (readerState == wire::kReaderInactive) {
        std::uint8_t first = 0;
        std::uint8_t second = 0;
        if (!m_protocol.CardReaderSetup(scale, currency, first, second))
            return CommandFailure();
        SleepFor(5);
        int result = PollReader(state, subState);
        if (ReaderExchangeFailed(result))
            return CommandFailure();
    }
    return m_protocol.CRIdentification() ? 0 : CommandFailure();
}

int CKRMSInterface::CancelVend()
{
    std::uint8_t replyByte = 0;
    if (!m_protocol.VendCancel(replyByte))
        return replyByte == 7 ? kReaderRefused : m_protocol.GetLastResultCode();
    if (!WaitReaderState(0x30020000, 10))
        return kStateNotAccepted;
    return GetLastReaderPoll().state == wire::kReaderIdle ? 0 : kReaderRefused;
}

int CKRMSInterface::RequestVend(double price, double& approved, int item, CassetteRecord* vendTable)
{
    int state = 0;
    int subState = 0;
    int result = PollReader(state, subState);
    if (ReaderExchangeFailed(result))
        return CommandFailure();
    if (state != wire::kReaderReadyForVend)
        return kInvalidCommand;
    if (!m_protocol.VendRequest(item, price, approved, vendTable, false))
        return CommandFailure();
    return 0;
}

int CKRMSInterface::GetFunds(double& amount, int& entryIndex, const std::string& currency, CassetteRecord* funds)
{
    std::array<CassetteRecord, kFundsEntries> scratch;
    CassetteRecord* table = funds ? funds : scratch.data();
    std::uint8_t firstByte = 0;
    if (!m_protocol.GetFunds(table, firstByte))
        return CommandFailure();
    if (firstByte < wire::kFundsTableMark || firstByte > wire::kLastFundsTableMark)
        return kFundsOutOfRange;
    std::string wanted = TrimmedCode(currency);
    for (int i = 0; i < kFundsEntries; ++i) {
        if (table[i].status != kCassetteUnknown && TrimmedCode(table[i].country) == wanted) {
            entryIndex = i;
            amount = table[i].value;
            return 0;
        }
    }
    entryIndex = 0;
    amount = table[0].value;
    return 0;
}

} // namespace orvex
