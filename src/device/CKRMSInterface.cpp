#include "device/CKRMSInterface.h"

#include "link/ProgramValues.h"

#include <algorithm>
#include <ctime>

namespace orvex {

namespace {

// Poll states the sequences look for.
constexpr std::uint8_t kPowerUpFirst = 0x10;
constexpr std::uint8_t kPowerUpLast = 0x12;
constexpr std::uint8_t kInitialize = 0x13;
constexpr std::uint8_t kIdling = 0x14;
constexpr std::uint8_t kAccepting = 0x15;
constexpr std::uint8_t kStacking = 0x17;
constexpr std::uint8_t kReturning = 0x18;
constexpr std::uint8_t kDisabled = 0x19;
constexpr std::uint8_t kDispensing = 0x1D;
constexpr std::uint8_t kUnloading = 0x1E;
constexpr std::uint8_t kSettingCassetteType = 0x21;
constexpr std::uint8_t kDispensed = 0x25;
constexpr std::uint8_t kUnloaded = 0x26;
constexpr std::uint8_t kDispenseFailed = 0x28;
constexpr std::uint8_t kCassetteTypeSet = 0x29;
constexpr std::uint8_t kBusy = 0x33;
constexpr std::uint8_t kEscrow = 0x80;
constexpr std::uint8_t kStacked = 0x81;
constexpr std::uint8_t kReturned = 0x82;

// Reader states.
constexpr std::uint8_t kReaderInactive = 1;
constexpr std::uint8_t kReaderReadyForVend = 7;
constexpr std::uint8_t kReaderSetUp = 9;
constexpr std::uint8_t kReaderBusy = 0x11;
constexpr std::uint8_t kReaderIdle = 0x14;

constexpr int kCardReaderAddress = 4;
constexpr int kCyclorAddress = 1;
constexpr std::uint8_t kRecoveryStacking = 0x17;
constexpr std::uint8_t kRecoveryDispensing = 0x1D;
constexpr std::uint8_t kRecoveryUnloading = 0x1E;
constexpr std::uint8_t kRecoveryCassetteJam = 0x3C;
constexpr int kRecoveryCapacity = 32;

struct StateFlag {
    int bit;
    std::uint8_t first;
    std::uint8_t last;
    bool atOnce; // reader waits: a match ends the wait before its sleep
};

constexpr StateFlag kDeviceFlags[] {
    { 0, 0x14, 0x14, false }, { 1, 0x10, 0x12, false }, { 2, 0x15, 0x15, false },
    { 3, 0x13, 0x13, false }, { 4, 0x17, 0x17, false }, { 5, 0x18, 0x18, false },
    { 6, 0x19, 0x19, false }, { 7, 0x1A, 0x1A, false }, { 8, 0x1C, 0x1C, false },
    { 9, 0x1D, 0x1D, false }, { 10, 0x1E, 0x1E, false }, { 11, 0x1F, 0x1F, false },
    { 12, 0x20, 0x20, false }, { 13, 0x25, 0x25, false }, { 14, 0x26, 0x26, false },
    { 15, 0x27, 0x27, false }, { 17, 0x28, 0x28, false }, { 17, 0x30, 0x30, false },
    { 17, 0x41, 0x48, false }, { 18, 0x81, 0x81, false }, { 19, 0x80, 0x80, false },
    { 20, 0x82, 0x82, false }, { 21, 0x21, 0x21, false }, { 22, 0x29, 0x29, false },
    { 23, 0x21, 0x21, false }, { 24, 0x22, 0x22, false },
};

constexpr StateFlag kReaderFlags[] {
    { 17, 0x30, 0x30, true }, { 17, 0x41, 0x48, true }, { 25, 0x01, 0x01, true },
    { 0, 0x06, 0x06, true }, { 1, 0x01, 0x01, false }, { 2, 0x15, 0x15, false },
    { 29, 0x15, 0x15, false }, { 3, 0x13, 0x13, false }, { 27, 0x13, 0x13, false },
    { 4, 0x17, 0x17, false }, { 31, 0x17, 0x17, false }, { 5, 0x18, 0x18, false },
    { 6, 0x05, 0x05, false }, { 7, 0x1A, 0x1A, false }, { 8, 0x1C, 0x1C, false },
    { 9, 0x1D, 0x1D, false }, { 10, 0x1E, 0x1E, false }, { 11, 0x1F, 0x1F, false },
    { 12, 0x20, 0x20, false }, { 13, 0x25, 0x25, false }, { 14, 0x26, 0x26, false },
    { 21, 0x21, 0x21, true }, { 23, 0x21, 0x21, false }, { 24, 0x22, 0x22, false },
    { 26, 0x12, 0x12, true }, { 28, 0x14, 0x14, false }, { 30, 0x16, 0x16, false },
    { 22, 0x29, 0x29, true }, { 19, 0x80, 0x80, true }, { 20, 0x82, 0x82, false },
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
    // 0x1B ends no wait, whatever the caller asked for.
    if (state == 0x1B)
        return false;
    return MatchState(kDeviceFlags, flags, state) != Match::None;
}

bool ReaderStateAccepted(int state)
{
    return state == 1 || (state >= 5 && state <= 9) || (state >= 0x10 && state <= 0x13);
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
    if (state == kIdling || state == kDisabled)
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
    return reply.state == kBusy ? kPollBusy : 0;
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
    if (state == kEscrow) {
        if (!m_protocol.Pack(address))
            return CommandFailure();
        if (!WaitState(0x2001A, 2, address))
            return kStateNotReached;
        if (LastState() != kStacking)
            return kStateNotAccepted;
    } else if (state != kStacking) {
        return kStateNotAccepted;
    }
    if (!WaitState(0x6000A, 10, address))
        return kStateNotReached;
    return LastState() == kStacked ? 0 : kStateNotAccepted;
}

int CKRMSInterface::ReturnBill(int address)
{
    if (!WaitState(0xA0002, 5, address))
        return kStateNotReached;
    std::uint8_t state = LastState();
    if (state < 0x80 || state > 0x8F)
        return kStateNotAccepted;
    EscrowNotify(state & 0x0F);
    if (!m_protocol.Return(address))
        return CommandFailure() + kCommandErrorBase;
    if (!WaitState(0x20022, 2, address))
        return kStateNotReached;
    if (LastState() != kReturning)
        return kStateNotAccepted;
    if (!WaitState(0x120002, 60, address))
        return kStateNotReached;
    return LastState() == kReturned ? 0 : kStateNotAccepted;
}

// ---- Initialisation ------------------------------------------------------

int CKRMSInterface::InitValidator(int address)
{
    if (!WaitState(-1, 2, address))
        return WaitFailure();
    std::uint8_t state = LastState();
    if (state >= kPowerUpFirst && state <= kPowerUpLast && !m_protocol.Reset(address))
        return CommandFailure();

    // A wait that runs out sends nothing more: the device is not ready.
    if (!WaitState(0x20041, 600, address))
        return WaitFailure();
    state = LastState();
    if (state == 0)
        return kStateNotReached;
    if (state == kIdling) {
        if (!m_protocol.BillType(0, 0, address))
            return CommandFailure();
        if (!WaitState(0x20042, 600, address))
            return WaitFailure();
        state = LastState();
        if (state == 0)
            return kStateNotReached;
        if (state != kDisabled)
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
        if (LastState() != kInitialize && !m_protocol.Reset(address))
            return CommandFailure();
        if (!WaitState(0x2004A, 100, address))
            return WaitFailure();
        std::uint8_t state = LastState();
        if (state == 0)
            return kStateNotReached;
        if (state != kInitialize && state != kDisabled)
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
    if (address == kCyclorAddress) {
        m_protocol.ExtendedIdentification(address);
        CheckClock();

        // A failed exchange leaves nothing to replay: an old buffer read
        // again would report events that did not happen.
        m_recoveryState = 0;
        int count = kRecoveryCapacity;
        m_recoveryLength = kRecoveryCapacity;
        bool recovered = m_protocol.PowerRecovery(m_recoveryState, m_recoveryBuffer.data(), kRecoveryCapacity, count);
        m_recoveryLength = recovered ? std::clamp(count, 0, kRecoveryCapacity) : 0;
        if (m_recoveryState == kRecoveryCassetteJam)
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
    if (address != kCyclorAddress) {
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
    if (state != kIdling && state != kDisabled && state != kEscrow)
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
    Poll(state, subState, kCyclorAddress);
    Poll(state, subState, kCyclorAddress);
    if (!m_protocol.SetCassetteType(cassetteIndex, mode, type))
        return CommandFailure();
    if (!WaitState(0x620002, 2, kCyclorAddress))
        return kStateNotReached;
    if (LastState() == kSettingCassetteType) {
        if (!WaitState(0x420043, 600, kCyclorAddress))
            return kStateNotReached;
        if (LastState() == kCassetteTypeSet)
            WaitState(0x20041, 2, kCyclorAddress);
    }
    return 0;
}

int CKRMSInterface::DisableForCassettes()
{
    if (!WaitState(0xA0047, 10, kCyclorAddress))
        return kStateNotReached;
    std::uint8_t state = LastState();
    if (state == kAccepting || state == kEscrow)
        ReturnBill(kCyclorAddress);
    else if (state != kIdling && state != kDisabled)
        return kStateNotAccepted;

    std::uint32_t nothing = 0;
    EnableBills(nothing, 0, kCyclorAddress);
    if (!WaitState(0x20042, 10, kCyclorAddress))
        return kStateNotReached;
    state = LastState();
    if (state == kIdling) {
        nothing = 0;
        EnableBills(nothing, 0, kCyclorAddress);
    } else if (state != kDisabled) {
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
    GetCassettes(before.data(), kCyclorAddress);

    if (!WaitState(0x20043, 10, kCyclorAddress))
        return kStateNotReached;
    std::uint8_t state = LastState();
    if (state != kIdling && state != kDisabled)
        return kStateNotAccepted;

    int cassette = kCassettes - 1;
    while (cassette >= 0 && counts[cassette] == 0)
        --cassette;
    if (cassette < 0)
        return 0;
    if (!m_protocol.Unload(cassette, counts[cassette]))
        return CommandFailure();

    if (!WaitState(0x20402, 5, kCyclorAddress))
        return kStateNotReached;
    if (LastState() != kUnloading)
        return kStateNotAccepted;
    // An unload that never finishes is not a success, whatever the POLLs said.
    if (!WaitState(0x2404B, 600, kCyclorAddress))
        return kStateNotReached;
    PollReply reply = GetLastPoll();
    if (reply.state != kUnloaded)
        return kStateNotAccepted;
    // UNLOADED carries the number of bills moved. A unit that gives no
    // count says 0; any other count than the one asked for means too few
    // or too many bills left the cassette.
    const int asked = counts[cassette];
    int result = reply.subState == 0 || reply.subState == asked ? 0 : kExecutionError;

    SleepFor(700);
    std::array<CassetteRecord, kCassettes> after;
    GetCassettes(after.data(), kCyclorAddress);
    return result;
}

int CKRMSInterface::Dispense(const std::uint8_t request[25])
{
    if (!request)
        return 0;
    std::array<CassetteRecord, kCassettes> before;
    if (int result = GetCassettes(before.data(), kCyclorAddress))
        return result;
    if (int result = DisableForCassettes())
        return result;
    if (!m_protocol.Dispense(request))
        return CommandFailure();

    if (!WaitState(0x22202, 10, kCyclorAddress))
        return kStateNotReached;
    std::uint8_t state = LastState();
    if (state == kDispensing) {
        if (!WaitState(0x2204B, 300, kCyclorAddress))
            return kStateNotReached;
        if (LastState() != kDispensed)
            return kStateNotAccepted;
    } else if (state == kDispenseFailed) {
        return kExecutionError;
    } else if (state != kDispensed) {
        return kStateNotAccepted;
    }

    SleepFor(100);
    std::array<CassetteRecord, kCassettes> after;
    GetCassettes(after.data(), kCyclorAddress);
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

    if (GetLastReaderPoll().state != kReaderInactive && !m_protocol.Reset(kCardReaderAddress))
        return CommandFailure();
    // A reader in a state that ends no wait (set up already, busy) has
    // nothing more to be told.
    if (!WaitReaderState(-1, 10))
        return m_protocol.GetLastResultCode();

    while (GetLastReaderPoll().state == kReaderBusy) {
        if (CProgramValues::Instance().closing.load() != 0 || StopRequested())
            return 0;
        SleepFor(200);
        int result = PollReader(state, subState);
        if (ReaderExchangeFailed(result))
            return CommandFailure();
    }

    std::uint8_t readerState = GetLastReaderPoll().state;
    if (readerState == kReaderSetUp)
        return 0;
    if (readerState == kReaderInactive) {
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
    return GetLastReaderPoll().state == kReaderIdle ? 0 : kReaderRefused;
}

int CKRMSInterface::RequestVend(double price, double& approved, int item, CassetteRecord* vendTable)
{
    int state = 0;
    int subState = 0;
    int result = PollReader(state, subState);
    if (ReaderExchangeFailed(result))
        return CommandFailure();
    if (state != kReaderReadyForVend)
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
    if (firstByte < 0xE0 || firstByte > 0xE7)
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
