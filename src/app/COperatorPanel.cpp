#include "app/COperatorPanel.h"

#include "app/CPanelObserver.h"
#include "app/CommandRegistry.h"
#include "app/HexText.h"
#include "decode/CExchangeLog.h"
#include "decode/CLogSink.h"
#include "device/CKRMSInterface.h"
#include "link/LineMode.h"
#include "link/NetworkPortName.h"
#include "link/ShownText.h"
#include "link/WireVocabulary.h"
#include "protocol/CKRMSProtocol.h"
#include "vmc/CVMC.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>

namespace orvex {

namespace {

constexpr int kCassetteChoices = 3;
constexpr std::uint8_t kNotAssigned = 253;
constexpr std::uint8_t kEscrowStatus = 252;
constexpr std::uint8_t kEscrowBillType = 24;
constexpr int kDispenseTypes = 25;
constexpr int kPollingExtra = 100;
constexpr int kNoSuchFile = 2; // ENOENT

bool IsCassetteChoice(int index) { return index >= 0 && index < kCassetteChoices; }

std::string Format(const char* format, int first, int second)
{
    char text[128];
    std::snprintf(text, sizeof text, format, first, second);
    return text;
}

} // namespace

COperatorPanel::COperatorPanel(CKRMSInterface& device, CVMC& engine, CExchangeLog* log, CLogSink* sink)
    : m_device(device)
    , m_protocol(*device.GetProtocol())
    , m_engine(engine)
    , m_log(log)
    , m_sink(sink)
{
    if (m_log != nullptr) {
        m_log->SetRawFrames(0);
        m_log->SetContextSource([this] {
            DecodeContext context;
            {
                std::lock_guard lock(m_mutex);
                context.deviceChoice = m_members.deviceAddress;
            }
            context.billTable = m_device.GetBillTable();
            return context;
        });
    }
}

COperatorPanel::~COperatorPanel()
{
    if (m_log != nullptr && m_protocol.GetObserver() == m_log)
        m_protocol.SetObserver(nullptr);
}

void COperatorPanel::SetObserver(CPanelObserver* observer)
{
    std::lock_guard lock(m_mutex);
    m_observer = observer;
}

void COperatorPanel::Attach(int foundPort)
{
    // The menu starts at 9600; only a port found at start-up keeps the
    // speed it answered at. A search that found nothing leaves the mode at
    // the card reader's 19200, which a port chosen later must not get.
    const bool found = foundPort >= 0 && foundPort < CPortTable::kSlots;
    if (!found)
        m_protocol.SetSerialMode(kMode9600);
    {
        std::lock_guard lock(m_mutex);
        m_members.deviceAddress = m_engine.GetDeviceAddress();
        m_currentPort = kNoPort;
        m_speed = m_protocol.GetSerialMode().rfind("19200", 0) == 0 ? 19200 : 9600;
    }
    if (m_log != nullptr)
        m_protocol.SetObserver(m_log);
    // Only COM1..COM4 are on the Port menu; a device found further up stays
    // open but no item is checked.
    if (foundPort >= 0 && foundPort < 4 && GetPortItemState(foundPort) == PortItemState::Enabled) {
        {
            std::lock_guard lock(m_mutex);
            m_currentPort = foundPort;
        }
        ChooseSpeed(GetSpeed());
    }
}

PanelMembers COperatorPanel::GetMembers() const
{
    std::lock_guard lock(m_mutex);
    return m_members;
}

void COperatorPanel::SetMembers(const PanelMembers& members)
{
    std::lock_guard lock(m_mutex);
    m_members = members;
}

std::string COperatorPanel::GetResultLine() const
{
    std::lock_guard lock(m_mutex);
    return m_members.resultLine;
}

int COperatorPanel::Address() const
{
    std::lock_guard lock(m_mutex);
    return m_members.deviceAddress;
}

void COperatorPanel::SetResultLine(std::string text, bool show)
{
    CPanelObserver* observer;
    {
        std::lock_guard lock(m_mutex);
        m_members.resultLine = text;
        observer = m_observer;
    }
    if (show && observer != nullptr)
        observer->OnResultLine(text);
}

void COperatorPanel::Message(std::string_view text)
{
    CPanelObserver* observer;
    {
        std::lock_guard lock(m_mutex);
        observer = m_observer;
    }
    if (observer != nullptr)
        observer->OnMessage(std::string(text));
}

void COperatorPanel::ShowBefore(const CommandRow& row)
{
    if (row.before != nullptr)
        SetResultLine(row.before, true);
}

COperatorPanel::Outcome COperatorPanel::Report(bool ok, const CommandRow& row)
{
    if (ok) {
        SetResultLine(std::string(row.success), true);
        return Outcome::Succeeded;
    }
    const int code = m_protocol.GetLastResultCode();
    std::string text(row.prefix);
    if (code == 0)
        text += kUnexpectedReply; // failed with no code: the reply was short or did not fit
    else
        text += (row.failure == FailureText::Device ? CVMCInterface::ResultText(code) : CKRMSProtocol::ErrorText(code))
            + m_protocol.LineFaultSuffix();
    SetResultLine(std::move(text), true);
    return Outcome::Failed;
}

COperatorPanel::Outcome COperatorPanel::ReportCode(int code, const CommandRow& row)
{
    if (code == 0) {
        SetResultLine(std::string(row.success), true);
        return Outcome::Succeeded;
    }
    SetResultLine(std::string(row.prefix) + CVMCInterface::ResultText(code) + m_protocol.LineFaultSuffix(), true);
    return Outcome::Failed;
}

// ---- Command buttons ---------------------------------------------------------

COperatorPanel::Outcome COperatorPanel::Run(CommandId id)
{
    const CommandRow& row = Command(id);
    return (this->*row.handler)(row);
}

COperatorPanel::Outcome COperatorPanel::SendExchange(const CommandRow& row)
{
    const PanelMembers members = GetMembers();
    ShowBefore(row);
    return Report(row.exchange(m_protocol, members), row);
}

COperatorPanel::Outcome COperatorPanel::Poll(const CommandRow& row)
{
    const int address = Address();
    if (address == wire::kCardReaderAddress)
        return Outcome::NothingSent;
    ShowBefore(row);
    return Report(m_protocol.Poll(address), row);
}

COperatorPanel::Outcome COperatorPanel::GetBillTable(const CommandRow& row)
{
    std::array<BillTypeEntry, kBillTypes> table = m_device.GetBillTable();
    const bool ok = m_protocol.BillTable(table.data(), Address());
    m_device.SetBillTable(table);
    return Report(ok, row);
}

COperatorPanel::Outcome COperatorPanel::BillType(const CommandRow& row)
{
    try {
        const PanelMembers members = GetMembers();
        const auto enabled = ParseHexText(members.enabledBills);
        const auto escrow = ParseHexText(members.escrowMask);
        if (!enabled || !escrow)
            return Outcome::NothingSent;
        const std::uint32_t enabledMask = static_cast<std::uint32_t>(*enabled & 0xFFFFFF);
        const std::uint32_t escrowMask = static_cast<std::uint32_t>(*escrow & 0xFFFFFF);
        const bool ok = m_protocol.BillType(enabledMask, escrowMask, members.deviceAddress);
        const Outcome outcome = Report(ok, row);
        m_engine.SetEnabledBills(enabledMask);
        m_engine.SetEscrowMask(escrowMask);
        return outcome;
    } catch (const std::exception&) {
        Message(kWordMessage);
        return Outcome::Failed;
    }
}

COperatorPanel::Outcome COperatorPanel::SetSecurity(const CommandRow& row)
{
    const PanelMembers members = GetMembers();
    const auto levels = ParseHexText(members.security);
    if (!levels)
        return Outcome::NothingSent;
    return Report(m_protocol.SetSecurity(static_cast<std::uint32_t>(*levels & 0xFFFFFF), members.deviceAddress), row);
}

COperatorPanel::Outcome COperatorPanel::SetOptions(const CommandRow& row)
{
    const PanelMembers members = GetMembers();
    const auto options = ParseHexText(members.options);
    if (!options)
        return Outcome::NothingSent;
    return Report(m_protocol.SetOptions(static_cast<std::uint32_t>(*options), members.deviceAddress), row);
}

COperatorPanel::Outcome COperatorPanel::InitializeBC(const CommandRow& row)
{
    m_device.ClearClosing();
    SetSequenceFlag(1);
    Outcome outcome = Outcome::NothingSent;
    try {
        const PanelMembers members = GetMembers();
        const auto security = ParseHexText(members.security);
        if (security) {
            const auto options = ParseHexText(members.options);
            const int code = m_device.InitRecycler(static_cast<std::uint32_t>(*security & 0xFFFFFF),
                members.barcodeLength, options ? static_cast<std::uint32_t>(*options) : 0, members.deviceAddress, 1);
            if (code == 0) {
                SetResultLine(std::string(row.success), true);
                outcome = Outcome::Succeeded;
            } else {
                // The protocol's text when a command failed; the device
                // interface's own when the sequence refused a state.
                const int last = m_protocol.GetLastResultCode();
                SetResultLine(std::string(row.prefix)
                        + (last != 0 ? CKRMSProtocol::ErrorText(last) : CVMCInterface::ResultText(code))
                        + m_protocol.LineFaultSuffix(),
                    true);
                outcome = Outcome::Failed;
            }
        }
    } catch (const std::exception&) {
        Message(kWordMessage);
        outcome = Outcome::Failed;
    }
    SetSequenceFlag(0);
    return outcome;
}

// The clock buttons show their outcome only in the log list.
COperatorPanel::Outcome COperatorPanel::GetTime(const CommandRow&)
{
    std::time_t time = 0;
    return m_protocol.GetCyTime(time) ? Outcome::Succeeded : Outcome::Failed;
}

COperatorPanel::Outcome COperatorPanel::SyncTime(const CommandRow&)
{
    return m_device.CheckClock() == 0 ? Outcome::Succeeded : Outcome::Failed;
}

COperatorPanel::Outcome COperatorPanel::SetCassetteType(const CommandRow& row)
{
    PanelMembers members = GetMembers();
    if (!IsCassetteChoice(members.settingsCassette)) {
        Message(kCassetteMessage);
        return Outcome::NothingSent;
    }
    int mode = 0;
    if (members.cassetteStatus == CassetteStatusChoice::NotAssigned) {
        mode = kNotAssigned;
    } else if (members.cassetteStatus == CassetteStatusChoice::Escrow) {
        mode = kEscrowStatus;
        std::lock_guard lock(m_mutex);
        m_members.cassetteBillType = kEscrowBillType;
        members.cassetteBillType = kEscrowBillType;
    }
    return Report(m_protocol.SetCassetteType(members.settingsCassette, mode, members.cassetteBillType), row);
}

COperatorPanel::Outcome COperatorPanel::UnloadCommand(const CommandRow& row)
{
    const PanelMembers members = GetMembers();
    if (!IsCassetteChoice(members.unloadCassette)) {
        Message(kCassetteMessage);
        return Outcome::NothingSent;
    }
    ShowBefore(row);
    return Report(m_protocol.Unload(members.unloadCassette, static_cast<std::uint8_t>(members.unloadNumber)), row);
}

COperatorPanel::Outcome COperatorPanel::UnloadingSequence(const CommandRow& row)
{
    const PanelMembers members = GetMembers();
    if (!IsCassetteChoice(members.unloadCassette)) {
        Message(kCassetteMessage);
        return Outcome::NothingSent;
    }
    ShowBefore(row);
    std::uint8_t counts[kCassettes] = {};
    counts[members.unloadCassette] = static_cast<std::uint8_t>(members.unloadNumber);
    m_device.ClearClosing();
    SetSequenceFlag(1);
    const int code = m_device.Unload(counts);
    const Outcome outcome = ReportCode(code, row);
    SetSequenceFlag(0);
    return outcome;
}

COperatorPanel::Outcome COperatorPanel::DispensingSequence(const CommandRow& row)
{
    const PanelMembers members = GetMembers();
    const std::array<std::pair<unsigned, int>, 3> rows { {
        { members.dispenseType1, members.dispenseNumber1 },
        { members.dispenseType2, members.dispenseNumber2 },
        { members.dispenseType3, members.dispenseNumber3 },
    } };
    std::array<int, kDispenseTypes> totals {};
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const auto [type, number] = rows[index];
        if (number <= 0)
            continue;
        // A type without an entry in the count table, or a total that a
        // count byte cannot hold, is refused rather than sent wrong.
        if (type >= kDispenseTypes) {
            Message(Format("Dispense row %d: bill type %d is above 24", static_cast<int>(index + 1), static_cast<int>(type)));
            return Outcome::NothingSent;
        }
        totals[type] += number;
        if (totals[type] > 255) {
            Message(Format("Dispense row %d: more than 255 bills of bill type %d", static_cast<int>(index + 1),
                static_cast<int>(type)));
            return Outcome::NothingSent;
        }
    }
    ShowBefore(row);
    std::uint8_t counts[kDispenseTypes] = {};
    for (int type = 0; type < kDispenseTypes; ++type)
        counts[type] = static_cast<std::uint8_t>(totals[static_cast<std::size_t>(type)]);
    m_device.ClearClosing();
    SetSequenceFlag(1);
    const int code = m_device.Dispense(counts);
    const Outcome outcome = ReportCode(code, row);
    SetSequenceFlag(0);
    return outcome;
}

COperatorPanel::Outcome COperatorPanel::ExtendedCassetteStatus(const CommandRow& row)
{
    const PanelMembers members = GetMembers();
    if (!IsCassetteChoice(members.extendedStatusCassette)) {
        Message(kCassetteMessage);
        return Outcome::NothingSent;
    }
    std::uint8_t buffer[128] = {};
    int count = 0;
    return Report(m_protocol.ExtendedCassetteStatus(static_cast<std::uint8_t>(members.extendedStatusCassette + 1),
                      buffer, sizeof buffer, count),
        row);
}

COperatorPanel::Outcome COperatorPanel::SetLevel(const CommandRow& row)
{
    const PanelMembers members = GetMembers();
    if (!IsCassetteChoice(members.feedingCassette)) {
        Message(kCassetteMessage);
        return Outcome::NothingSent;
    }
    return Report(m_protocol.SetCassetteFeedingLevel(members.feedingCassette,
                      static_cast<std::uint8_t>(members.feedingLevel), members.feedingDisable != 0),
        row);
}

COperatorPanel::Outcome COperatorPanel::GetLevel(const CommandRow& row)
{
    std::uint8_t output[256] = {};
    if (!m_protocol.GetCassetteFeedingLevel(output, sizeof output))
        return Report(false, row);
    // output[0] is the count n (L - 5), then the n levels.
    const int count = std::min<int>(output[0], static_cast<int>(sizeof output) - 1);
    if (m_sink != nullptr) {
        for (int index = 1; index <= count; ++index)
            m_sink->AddLine(Format("<- Cassette %d feeding level: %d", index, output[index]));
        m_sink->AddLine(CExchangeLog::kSeparator);
        m_sink->SelectLastLine();
    }
    SetResultLine(std::string(row.success), true);
    return Outcome::Succeeded;
}

COperatorPanel::Outcome COperatorPanel::DgnFunctions(const CommandRow& row)
{
    std::uint8_t buffer[256] = {};
    int count = 0;
    const bool ok = m_protocol.DiagnosticSupportedFunctions(buffer, sizeof buffer, count, Address());
    if (ok) {
        std::vector<std::string> codes;
        for (int index = 0; index < count && index < static_cast<int>(sizeof buffer); ++index) {
            char text[8];
            std::snprintf(text, sizeof text, "%02X", buffer[index]);
            codes.emplace_back(text);
        }
        std::lock_guard lock(m_mutex);
        m_members.diagnosticCodeList = std::move(codes);
    }
    return Report(ok, row);
}

COperatorPanel::Outcome COperatorPanel::Diagnostic(const CommandRow& row)
{
    const PanelMembers members = GetMembers();
    const int count = members.diagnosticByte;
    if (count > kMaxDiagnosticBytes) {
        Message(Format("Diagnostic byte count %d: at most %d data bytes fit in one frame", count, kMaxDiagnosticBytes));
        return Outcome::NothingSent;
    }
    const std::uint8_t code = static_cast<std::uint8_t>(ParseHexText(members.diagnosticCode).value_or(0));
    const std::uint64_t data = ParseHexText(members.diagnosticData).value_or(0);
    // The lowest bytes first; past the eighth byte there is nothing left.
    std::array<std::uint8_t, 256> bytes {};
    for (int index = 0; index < count && index < 8; ++index)
        bytes[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(data >> (8 * index));
    return Report(m_protocol.Diagnostic(code, bytes.data(), count, members.deviceAddress), row);
}

// ---- Polling mode --------------------------------------------------------------

void COperatorPanel::SetSequenceFlag(std::uint8_t value)
{
    if (m_log != nullptr)
        m_log->SetSequenceFlag(value);
}

void COperatorPanel::PollingModeBox()
{
    if (GetMembers().pollingMode != 0)
        StartPolling();
    else
        StopPolling();
}

bool COperatorPanel::StartPolling()
{
    SetResultLine("", true);
    if (m_engine.IsRunning())
        return true;
    const PanelMembers members = GetMembers();
    auto hex = [](const std::string& text) { return ParseHexText(text).value_or(0); };
    m_engine.SetEnabledBills(static_cast<std::uint32_t>(hex(members.enabledBills) & 0xFFFFFF));
    m_engine.SetEscrowMask(static_cast<std::uint32_t>(hex(members.escrowMask) & 0xFFFFFF));
    m_engine.SetSecurityLevels(static_cast<std::uint32_t>(hex(members.security) & 0xFFFFFF));
    m_engine.SetOptions(static_cast<std::uint32_t>(hex(members.options)));
    m_engine.SetDeviceAddress(members.deviceAddress);
    m_engine.SetBarcodeLength(members.barcodeLength);
    m_device.SetPollInterval(GetTiming().pollingInterval + kPollingExtra);
    m_engine.SetResetAtStart(members.reset != 0);
    m_engine.SetBusResetOnLostContact(members.resetOnError != 0);
    m_engine.SetStackBills(members.returnBills == 0);

    // The sequence flag and the emptied memory of the last exchange are in
    // place before the engine's first exchange.
    SetSequenceFlag(1);
    if (m_log != nullptr)
        m_log->ClearLastExchangeText();
    if (!m_engine.Start()) {
        SetSequenceFlag(0);
        std::lock_guard lock(m_mutex);
        m_members.pollingMode = 0;
        return false;
    }
    CPanelObserver* observer;
    {
        std::lock_guard lock(m_mutex);
        m_members.pollingMode = 1;
        observer = m_observer;
    }
    if (observer != nullptr)
        observer->OnCommandButtonsEnabled(false);
    return true;
}

void COperatorPanel::StopPolling()
{
    SetResultLine("", true);
    m_engine.RequestStop();
    while (!m_engine.WaitForEnd(std::chrono::milliseconds(150))) {
    }
    CPanelObserver* observer;
    {
        std::lock_guard lock(m_mutex);
        m_members.pollingMode = 0;
        observer = m_observer;
    }
    if (observer != nullptr)
        observer->OnCommandButtonsEnabled(true);
    SetSequenceFlag(0);
}

bool COperatorPanel::IsPolling() const { return m_engine.IsRunning(); }

const std::vector<std::string>& COperatorPanel::PollingDisabledButtons()
{
    static const std::vector<std::string> buttons = [] {
        std::vector<std::string> captions;
        for (const CommandRow& row : CommandRows()) {
            if (row.polling == PollingUse::Disabled) {
                // "Get cassette status " carries a trailing blank in its caption.
                std::string caption(row.caption);
                while (!caption.empty() && caption.back() == ' ')
                    caption.pop_back();
                captions.push_back(std::move(caption));
            }
        }
        return captions;
    }();
    return buttons;
}

// ---- Option boxes ----------------------------------------------------------------

void COperatorPanel::RtsBox()
{
    m_protocol.GetPort()->SetRts(GetMembers().rts != 0 ? 1 : 0);
}

void COperatorPanel::CommunicationDataBox()
{
    if (m_log != nullptr)
        m_log->SetRawFrames(GetMembers().communicationData != 0 ? 1 : 0);
}

void COperatorPanel::DisplayExchangeBox()
{
    if (m_log != nullptr)
        m_log->SetDecodeFlag(GetMembers().displayExchange);
}

void COperatorPanel::ResetOnErrorBox()
{
    m_engine.SetBusResetOnLostContact(GetMembers().resetOnError != 0);
}

void COperatorPanel::ReturnBox()
{
    m_engine.SetStackBills(GetMembers().returnBills == 0);
}

// ---- Port menu -------------------------------------------------------------------

COperatorPanel::PortItemState COperatorPanel::GetPortItemState(int index) const
{
    const int error = m_protocol.GetPortError(index);
    if (error == 0)
        return PortItemState::Enabled;
    return error == kNoSuchFile ? PortItemState::Removed : PortItemState::Greyed;
}

bool COperatorPanel::OpenCurrentPort(PortFailureText failureText)
{
    int port;
    int speed;
    {
        std::lock_guard lock(m_mutex);
        port = m_currentPort;
        speed = m_speed;
    }
    m_protocol.SetSerialMode(ModeTextFor(speed));
    if (port == kNoPort || m_device.OpenPort(port, GetTiming().responseTimeout) == 0) {
        // The items technicians know keep their one text; a name typed in
        // gets the reason too (refused, unreachable, malformed).
        if (failureText == PortFailureText::WithReason && port != kNoPort)
            Message(std::string(kPortMessage) + "\n" + m_protocol.GetPort()->DescribePortError(port));
        else
            Message(kPortMessage);
        return false;
    }
    return true;
}

bool COperatorPanel::ChoosePort(int index)
{
    if (index < 0 || index > 3) {
        Message(kPortMessage);
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_currentPort = index;
    }
    return OpenCurrentPort();
}

bool COperatorPanel::ChooseNetworkPort(const std::string& name)
{
    if (!ParseNetworkPortName(name)) {
        Message("Network port " + DescribeNetworkPortName(name));
        return false;
    }
    std::string error;
    const int index = m_protocol.AddPortPath(name, error);
    if (index < 0) {
        Message("Network port " + ShownText(name, "") + ": " + error);
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_currentPort = index;
    }
    return OpenCurrentPort(PortFailureText::WithReason);
}

bool COperatorPanel::RescanPorts()
{
    std::string error;
    if (m_protocol.RescanPorts(error))
        return true;
    Message("Rescan ports: " + error);
    return false;
}

bool COperatorPanel::ChooseSpeed(int baud)
{
    {
        std::lock_guard lock(m_mutex);
        m_speed = baud == 19200 ? 19200 : 9600;
    }
    return OpenCurrentPort();
}

int COperatorPanel::GetCurrentPort() const
{
    std::lock_guard lock(m_mutex);
    return m_currentPort;
}

int COperatorPanel::GetSpeed() const
{
    std::lock_guard lock(m_mutex);
    return m_speed;
}

// ---- Timing settings -------------------------------------------------------------

TimingSettings COperatorPanel::GetTiming() const
{
    std::lock_guard lock(m_mutex);
    return m_timing;
}

void COperatorPanel::ApplyTiming(const TimingSettings& timing)
{
    TimingSettings stored = timing;
    // Neither a negative value nor a huge one may become a long pause or
    // time-out.
    for (int* value : { &stored.responseTimeout, &stored.pollingInterval, &stored.intercommandInterval })
        *value = std::clamp(*value, 0, TimingSettings::kMaxMilliseconds);
    stored.commandPrefix = stored.commandPrefix == 1 ? 1 : 0;
    int port;
    {
        std::lock_guard lock(m_mutex);
        m_timing = stored;
        port = m_currentPort;
    }
    m_device.SetPollInterval(stored.pollingInterval);
    m_device.SetIntercommandInterval(stored.intercommandInterval);
    // A device found beyond COM4 has no menu item; its port is the open one.
    if (port == kNoPort)
        port = m_protocol.GetPort()->GetOpenIndex();
    if (port >= 0 && port < CPortTable::kSlots)
        m_device.OpenPort(port, stored.responseTimeout);
}

} // namespace orvex
