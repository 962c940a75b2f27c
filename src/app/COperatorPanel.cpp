#include "app/COperatorPanel.h"

#include "app/CPanelObserver.h"
#include "app/HexText.h"
#include "decode/CExchangeLog.h"
#include "decode/CLogSink.h"
#include "device/CKRMSInterface.h"
#include "link/ProgramValues.h"
#include "protocol/CKRMSProtocol.h"
#include "vmc/CVMC.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>

namespace orvex {

namespace {

constexpr int kCardReaderAddress = 4;
constexpr int kCassetteChoices = 3;
constexpr std::uint8_t kNotAssigned = 253;
constexpr std::uint8_t kEscrowStatus = 252;
constexpr std::uint8_t kEscrowBillType = 24;
constexpr int kDispenseTypes = 25;
// 7 + n must fit the one-byte length of a short frame.
constexpr int kMaxDiagnosticBytes = 255 - 7;
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
    {
        std::lock_guard lock(m_mutex);
        m_members.deviceAddress = m_engine.GetDeviceAddress();
        m_currentPort = kNoPort;
        m_speed = CProgramValues::Instance().SerialMode().rfind("19200", 0) == 0 ? 19200 : 9600;
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

COperatorPanel::Outcome COperatorPanel::Report(bool ok, std::string_view success, std::string_view prefix, TextKind kind)
{
    if (ok) {
        SetResultLine(std::string(success), true);
        return Outcome::Succeeded;
    }
    const int code = m_protocol.GetLastResultCode();
    std::string text(prefix);
    if (code == 0)
        text += kUnexpectedReply; // failed with no code: the reply was short or did not fit
    else
        text += kind == TextKind::Device ? CVMCInterface::ResultText(code) : CKRMSProtocol::ErrorText(code);
    SetResultLine(std::move(text), true);
    return Outcome::Failed;
}

COperatorPanel::Outcome COperatorPanel::ReportCode(int code, std::string_view success, std::string_view prefix)
{
    if (code == 0) {
        SetResultLine(std::string(success), true);
        return Outcome::Succeeded;
    }
    SetResultLine(std::string(prefix) + CVMCInterface::ResultText(code), true);
    return Outcome::Failed;
}

// ---- Command buttons ---------------------------------------------------------

COperatorPanel::Outcome COperatorPanel::Reset()
{
    SetResultLine("", true);
    return Report(m_protocol.Reset(Address()), "Reset: OK", "Reset:");
}

COperatorPanel::Outcome COperatorPanel::Poll()
{
    const int address = Address();
    if (address == kCardReaderAddress)
        return Outcome::NothingSent;
    SetResultLine("Wait...", true);
    return Report(m_protocol.Poll(address), "Poll: OK", "Poll: ");
}

COperatorPanel::Outcome COperatorPanel::StatusRequest()
{
    return Report(m_protocol.StatusRequest(Address()), "Status : OK", "Status : ");
}

COperatorPanel::Outcome COperatorPanel::Identification()
{
    return Report(m_protocol.Identification(Address()), "Identification : OK", "Identification : ");
}

COperatorPanel::Outcome COperatorPanel::ExtendedIdentification()
{
    return Report(m_protocol.ExtendedIdentification(Address()), "Extended Identification : OK",
        "Extended  Identification : ");
}

COperatorPanel::Outcome COperatorPanel::GetBillTable()
{
    std::array<BillTypeEntry, kBillTypes> table = m_device.GetBillTable();
    const bool ok = m_protocol.BillTable(table.data(), Address());
    m_device.SetBillTable(table);
    return Report(ok, "Get Bill Table : OK", "Get Bill Table : ");
}

COperatorPanel::Outcome COperatorPanel::BillType()
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
        const Outcome outcome = Report(ok, "Bill Type: OK", "Bill Type: ");
        m_engine.SetEnabledBills(enabledMask);
        CProgramValues::Instance().escrowMask.store(escrowMask);
        return outcome;
    } catch (const std::exception&) {
        Message(kWordMessage);
        return Outcome::Failed;
    }
}

COperatorPanel::Outcome COperatorPanel::SetBarcodeParameters()
{
    const PanelMembers members = GetMembers();
    return Report(m_protocol.SetBarParameters(1, members.barcodeLength, members.deviceAddress),
        "Setting Barcode Parameters: OK", "Setting Barcode Parameters:");
}

COperatorPanel::Outcome COperatorPanel::SetSecurity()
{
    const PanelMembers members = GetMembers();
    const auto levels = ParseHexText(members.security);
    if (!levels)
        return Outcome::NothingSent;
    return Report(m_protocol.SetSecurity(static_cast<std::uint32_t>(*levels & 0xFFFFFF), members.deviceAddress),
        "Setting Security: OK", "Setting Security:");
}

COperatorPanel::Outcome COperatorPanel::ExtractBar()
{
    std::string text;
    return Report(m_protocol.ExtractBarcode(text, Address()), "Extract Barcode: OK", "Extract Barcode:");
}

COperatorPanel::Outcome COperatorPanel::Stack()
{
    return Report(m_protocol.Pack(Address()), "Pack: OK", "Pack:");
}

COperatorPanel::Outcome COperatorPanel::Return()
{
    return Report(m_protocol.Return(Address()), "Return: OK", "Return:");
}

COperatorPanel::Outcome COperatorPanel::Hold()
{
    return Report(m_protocol.Hold(Address()), "Hold: OK", "Hold:");
}

COperatorPanel::Outcome COperatorPanel::GetCrc32()
{
    std::uint32_t value = 0;
    return Report(m_protocol.Crc32(value, Address()), "CRC32 : OK", "CRC32 : ");
}

COperatorPanel::Outcome COperatorPanel::RequestStatistics()
{
    std::vector<std::uint8_t> buffer(10000);
    return Report(m_protocol.RequestStatistics(buffer.data(), static_cast<int>(buffer.size()), Address()),
        "Request statistics: OK", "Request statistics:");
}

COperatorPanel::Outcome COperatorPanel::ModuleIdentification()
{
    return Report(m_protocol.ModuleIdentification(Address()), "Module Identification : OK",
        "Module Identification : ");
}

COperatorPanel::Outcome COperatorPanel::ValidationSoftwareIdentification()
{
    return Report(m_protocol.ValidationSoftwareIdentification(Address()), "Validation Software Identification : OK",
        "Validation Software Identification : ");
}

COperatorPanel::Outcome COperatorPanel::SetOptions()
{
    const PanelMembers members = GetMembers();
    const auto options = ParseHexText(members.options);
    if (!options)
        return Outcome::NothingSent;
    return Report(m_protocol.SetOptions(static_cast<std::uint32_t>(*options), members.deviceAddress),
        "Setting Options: OK", "Setting Options:");
}

COperatorPanel::Outcome COperatorPanel::GetOptions()
{
    std::uint32_t options = 0;
    return Report(m_protocol.GetOptions(options, Address()), "Requesting Options : OK", "Requesting Options : ");
}

COperatorPanel::Outcome COperatorPanel::InitializeBC()
{
    CProgramValues::Instance().closing.store(0);
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
                SetResultLine("Initialization passed", true);
                outcome = Outcome::Succeeded;
            } else {
                // The protocol's text when a command failed; the device
                // interface's own when the sequence refused a state.
                const int last = m_protocol.GetLastResultCode();
                SetResultLine(std::string("Initialization failed:")
                        + (last != 0 ? CKRMSProtocol::ErrorText(last) : CVMCInterface::ResultText(code)),
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

COperatorPanel::Outcome COperatorPanel::GetTime()
{
    std::time_t time = 0;
    return m_protocol.GetCyTime(time) ? Outcome::Succeeded : Outcome::Failed;
}

COperatorPanel::Outcome COperatorPanel::SyncTime()
{
    return m_device.CheckClock() == 0 ? Outcome::Succeeded : Outcome::Failed;
}

COperatorPanel::Outcome COperatorPanel::GetCassetteStatus()
{
    return Report(m_protocol.GetCassetteStatus(), "Cassette status request:OK", "Cassette status request failed:");
}

COperatorPanel::Outcome COperatorPanel::SetCassetteType()
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
    return Report(m_protocol.SetCassetteType(members.settingsCassette, mode, members.cassetteBillType),
        "Set Cassete Status: OK", "Set Cassete Status: ");
}

COperatorPanel::Outcome COperatorPanel::UnloadCommand()
{
    const PanelMembers members = GetMembers();
    if (!IsCassetteChoice(members.unloadCassette)) {
        Message(kCassetteMessage);
        return Outcome::NothingSent;
    }
    SetResultLine("Unloading...", true);
    return Report(m_protocol.Unload(members.unloadCassette, static_cast<std::uint8_t>(members.unloadNumber)),
        "Unload Cmd: OK", "Unload Cmd:", TextKind::Device);
}

COperatorPanel::Outcome COperatorPanel::UnloadingSequence()
{
    const PanelMembers members = GetMembers();
    if (!IsCassetteChoice(members.unloadCassette)) {
        Message(kCassetteMessage);
        return Outcome::NothingSent;
    }
    SetResultLine("Unloading...", true);
    std::uint8_t counts[kCassettes] = {};
    counts[members.unloadCassette] = static_cast<std::uint8_t>(members.unloadNumber);
    CProgramValues::Instance().closing.store(0);
    SetSequenceFlag(1);
    const int code = m_device.Unload(counts);
    const Outcome outcome = ReportCode(code, "Unload: OK", "Unload:");
    SetSequenceFlag(0);
    return outcome;
}

COperatorPanel::Outcome COperatorPanel::DispenseCommand()
{
    const PanelMembers members = GetMembers();
    SetResultLine("Dispensing...", true);
    const std::uint8_t pairs[6] = {
        static_cast<std::uint8_t>(members.dispenseType1), static_cast<std::uint8_t>(members.dispenseNumber1),
        static_cast<std::uint8_t>(members.dispenseType2), static_cast<std::uint8_t>(members.dispenseNumber2),
        members.dispenseType3, static_cast<std::uint8_t>(members.dispenseNumber3),
    };
    return Report(m_protocol.DispensePairs(pairs), "Dispense: OK", "Dispense:", TextKind::Device);
}

COperatorPanel::Outcome COperatorPanel::DispensingSequence()
{
    const PanelMembers members = GetMembers();
    const std::array<std::pair<unsigned, int>, 3> rows { {
        { members.dispenseType1, members.dispenseNumber1 },
        { members.dispenseType2, members.dispenseNumber2 },
        { members.dispenseType3, members.dispenseNumber3 },
    } };
    std::array<int, kDispenseTypes> totals {};
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const auto [type, number] = rows[row];
        if (number <= 0)
            continue;
        // A type without an entry in the count table, or a total that a
        // count byte cannot hold, is refused rather than sent wrong.
        if (type >= kDispenseTypes) {
            Message(Format("Dispense row %d: bill type %d is above 24", static_cast<int>(row + 1), static_cast<int>(type)));
            return Outcome::NothingSent;
        }
        totals[type] += number;
        if (totals[type] > 255) {
            Message(Format("Dispense row %d: more than 255 bills of bill type %d", static_cast<int>(row + 1),
                static_cast<int>(type)));
            return Outcome::NothingSent;
        }
    }
    SetResultLine("Dispensing...", true);
    std::uint8_t counts[kDispenseTypes] = {};
    for (int type = 0; type < kDispenseTypes; ++type)
        counts[type] = static_cast<std::uint8_t>(totals[static_cast<std::size_t>(type)]);
    CProgramValues::Instance().closing.store(0);
    SetSequenceFlag(1);
    const int code = m_device.Dispense(counts);
    const Outcome outcome = ReportCode(code, "Dispense: OK", "Dispense:");
    SetSequenceFlag(0);
    return outcome;
}

COperatorPanel::Outcome COperatorPanel::PowerRecovery()
{
    SetResultLine("", true);
    std::uint8_t state = 0;
    std::uint8_t buffer[256] = {};
    int count = 0;
    return Report(m_protocol.PowerRecovery(state, buffer, sizeof buffer, count), "Power Recovery: OK",
        "Power Recovery:");
}

COperatorPanel::Outcome COperatorPanel::EmptyDispenser()
{
    return Report(m_protocol.EmptyDispenser(), "Empty Dispenser: OK", "Empty Dispenser:");
}

COperatorPanel::Outcome COperatorPanel::ExtendedCassetteStatus()
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
        "Requesting Extended Cassette Status : OK", "Requesting Extended Cassette Status : ");
}

COperatorPanel::Outcome COperatorPanel::SetLevel()
{
    const PanelMembers members = GetMembers();
    if (!IsCassetteChoice(members.feedingCassette)) {
        Message(kCassetteMessage);
        return Outcome::NothingSent;
    }
    return Report(m_protocol.SetCassetteFeedingLevel(members.feedingCassette,
                      static_cast<std::uint8_t>(members.feedingLevel), members.feedingDisable != 0),
        "Set Cassete Feeding Level: OK", "Set Cassete Feeding Level: ");
}

COperatorPanel::Outcome COperatorPanel::GetLevel()
{
    std::uint8_t output[256] = {};
    if (!m_protocol.GetCassetteFeedingLevel(output, sizeof output))
        return Report(false, "", "Get Cassete Feeding Level: ");
    // output[0] is the count n (L - 5), then the n levels.
    const int count = std::min<int>(output[0], static_cast<int>(sizeof output) - 1);
    if (m_sink != nullptr) {
        for (int index = 1; index <= count; ++index)
            m_sink->AddLine(Format("<- Cassette %d feeding level: %d", index, output[index]));
        m_sink->AddLine(CExchangeLog::kSeparator);
        m_sink->SelectLastLine();
    }
    SetResultLine("Get Cassete Feeding Level: OK", true);
    return Outcome::Succeeded;
}

COperatorPanel::Outcome COperatorPanel::DgnStatus()
{
    std::uint8_t status = 0;
    std::uint8_t buffer[256] = {};
    int count = 0;
    return Report(m_protocol.DiagnosticStatusRequest(status, buffer, sizeof buffer, count, Address()),
        "Diagnostics/Status request: OK", "Diagnostics/Status request:", TextKind::Device);
}

COperatorPanel::Outcome COperatorPanel::DgnIdent()
{
    return Report(m_protocol.DiagnosticIdentificationRequest(Address()), "Diagnostics/Identification request: OK",
        "Diagnostics/Identification request:", TextKind::Device);
}

COperatorPanel::Outcome COperatorPanel::DgnFunctions()
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
    return Report(ok, "Diagnostics/Function list: OK", "Diagnostics/Function list:", TextKind::Device);
}

COperatorPanel::Outcome COperatorPanel::DgnSensors()
{
    return Report(m_protocol.DiagnosticSensorState(Address()), "Diagnostics/Sensor state: OK",
        "Diagnostics/Sensor state:", TextKind::Device);
}

COperatorPanel::Outcome COperatorPanel::DgnValidator()
{
    return Report(m_protocol.DiagnosticTestValidator(Address()), "Diagnostics/Test Validator: OK",
        "Diagnostics/Test Validator:", TextKind::Device);
}

COperatorPanel::Outcome COperatorPanel::DgnCassette()
{
    const PanelMembers members = GetMembers();
    return Report(m_protocol.DiagnosticTestCassette(members.diagnosticCassette, members.deviceAddress),
        "Diagnostics/Test cassette: OK", "Diagnostics/Test cassette:", TextKind::Device);
}

COperatorPanel::Outcome COperatorPanel::DgnDispenser()
{
    return Report(m_protocol.DiagnosticTestDispenser(Address()), "Diagnostics/Test dispenser: OK",
        "Diagnostics/Test dispenser:", TextKind::Device);
}

COperatorPanel::Outcome COperatorPanel::DgnSwitch()
{
    return Report(m_protocol.DiagnosticTestSwitch(Address()), "Diagnostics/Test switch: OK",
        "Diagnostics/Test switch:", TextKind::Device);
}

COperatorPanel::Outcome COperatorPanel::DgnChassis()
{
    return Report(m_protocol.DiagnosticTestChassis(Address()), "Diagnostics/Test chassis: OK",
        "Diagnostics/Test chassis:", TextKind::Device);
}

COperatorPanel::Outcome COperatorPanel::DgnComm()
{
    return Report(m_protocol.DiagnosticTestCommunication(Address()), "Diagnostics/Test communication: OK",
        "Diagnostics/Test communication:", TextKind::Device);
}

COperatorPanel::Outcome COperatorPanel::Diagnostic()
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
    return Report(m_protocol.Diagnostic(code, bytes.data(), count, members.deviceAddress), "Diagnostics: OK",
        "Diagnostics:", TextKind::Device);
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
    CProgramValues::Instance().escrowMask.store(static_cast<std::uint32_t>(hex(members.escrowMask) & 0xFFFFFF));
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
    static const std::vector<std::string> buttons {
        "Poll", "Reset", "Identification", "Extended Identification", "Status request", "Dispensing sequence",
        "Dispense Command", "Unload Command", "Unloading sequence", "Bill Type", "Get Bill Table", "Set security",
        "Sync Time", "Get Time", "Get cassette status", "Set Cassette Type", "Return", "Stack", "Hold", "Extract BAR",
        "Set barcode parameters", "Initialize BC", "Power Recovery", "Set options", "Get options", "Get CRC32",
        "Empty Dispenser", "Set level", "Get level",
    };
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

bool COperatorPanel::OpenCurrentPort()
{
    int port;
    int speed;
    {
        std::lock_guard lock(m_mutex);
        port = m_currentPort;
        speed = m_speed;
    }
    CProgramValues::Instance().SetSerialMode(speed == 19200 ? "19200,n,8,1" : "9600,n,8,1");
    if (port == kNoPort || m_device.OpenPort(port, GetTiming().responseTimeout) == 0) {
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
    // A negative value must not become a long pause or time-out.
    stored.responseTimeout = std::max(0, stored.responseTimeout);
    stored.pollingInterval = std::max(0, stored.pollingInterval);
    stored.intercommandInterval = std::max(0, stored.intercommandInterval);
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
