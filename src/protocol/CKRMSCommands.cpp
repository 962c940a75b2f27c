#include "protocol/CKRMSProtocol.h"

#include "protocol/CFrameBuilder.h"
#include "protocol/CReplyView.h"

#include "link/Bcd.h"
#include "link/LocalTime.h"
#include "link/WireVocabulary.h"

#include <algorithm>
#include <cstring>

namespace orvex {

namespace {

// Bill table groups: value digit, three-letter country, exponent.
constexpr int kBillGroupSize = 5;
// Cassette table pairs: type byte, bill count.

bool ValidCassetteIndex(int index)
{
    return index >= 0 && index < kCassettes;
}

std::uint8_t CassetteNumber(int index)
{
    return static_cast<std::uint8_t>(index + 1);
}

// Copies the data of a reply into a caller's buffer of `capacity` bytes.
void CopyOut(const CReplyView& reply, int offset, int count, std::uint8_t* buffer)
{
    for (int i = 0; i < count; ++i)
        buffer[i] = reply.FrameByte(offset + i);
}

} // namespace

// ---- Shared steps -------------------------------------------------------

CCommand CKRMSProtocol::Execute(const CCommand& frame, int address, std::string_view name)
{
    if (name.empty() && frame.GetBytes()) {
        std::vector<std::uint8_t> sent(frame.GetBytes(), frame.GetBytes() + frame.GetLength());
        if (sent.size() > 1)
            sent[1] = static_cast<std::uint8_t>(address);
        name = wire::CommandLogName(sent);
    }
    CCommand reply = Exchange(frame, address);
    if (!name.empty())
        CommandDone(std::string(name));
    else
        ReleaseLock();
    m_lastResultCode.store(reply.GetStatus());
    return reply;
}

bool CKRMSProtocol::Refuse()
{
    m_lastResultCode.store(kOk);
    {
        std::lock_guard lock(m_stateMutex);
        m_lineFault = {};
    }
    return false;
}

bool CKRMSProtocol::CheckData(const CReplyView& reply)
{
    if (!reply.HasFrame())
        return false;
    if (reply.IsInvalidCommand()) {
        m_lastResultCode.store(kInvalidCommand);
        return false;
    }
    return true;
}

bool CKRMSProtocol::AckCommand(std::uint8_t code, int address)
{
    CFrameBuilder frame(code);
    return CheckAck(Execute(frame.Frame(), address));
}

bool CKRMSProtocol::DiagnosticTest(std::uint8_t subCommand, int address)
{
    CFrameBuilder frame(wire::kDiagnostic);
    frame.Add(subCommand);
    return CheckAck(Execute(frame.Frame(), address));
}

// ---- Commands answered with ACK ----------------------------------------

bool CKRMSProtocol::Reset(int address)
{
    // The card reader knows RESET under the code the others use for STATUS.
    return AckCommand(address == wire::kCardReaderAddress ? wire::kReaderReset : wire::kReset, address);
}

bool CKRMSProtocol::SetSecurity(std::uint32_t levels, int address)
{
    CFrameBuilder frame(wire::kSetSecurity);
    frame.Add24(levels);
    return CheckAck(Execute(frame.Frame(), address));
}

bool CKRMSProtocol::BillType(std::uint32_t enableMask, std::uint32_t escrowMask, int address)
{
    CFrameBuilder frame(wire::kBillType);
    frame.Add24(enableMask).Add24(escrowMask);
    return CheckAck(Execute(frame.Frame(), address));
}

bool CKRMSProtocol::Pack(int address)
{
    return AckCommand(wire::kPack, address);
}

bool CKRMSProtocol::Return(int address)
{
    return AckCommand(wire::kReturn, address);
}

bool CKRMSProtocol::Hold(int address)
{
    return AckCommand(wire::kHold, address);
}

bool CKRMSProtocol::SetBarParameters(std::uint8_t format, std::uint8_t length, int address)
{
    CFrameBuilder frame(wire::kSetBarParameters);
    frame.Add(format).Add(length);
    return CheckAck(Execute(frame.Frame(), address));
}

bool CKRMSProtocol::Dispense(const std::uint8_t counts[25])
{
    if (!counts)
        return Refuse();
    CFrameBuilder frame(wire::kDispense);
    for (int type = 0; type < 25; ++type)
        if (counts[type] != 0)
            frame.Add(static_cast<std::uint8_t>(type)).Add(counts[type]);
    return CheckAck(Execute(frame.Frame(), wire::kCyclorAddress));
}

bool CKRMSProtocol::DispensePairs(const std::uint8_t pairs[6])
{
    if (!pairs)
        return Refuse();
    CFrameBuilder frame(wire::kDispense);
    for (int pair = 0; pair < 3; ++pair)
        if (pairs[2 * pair + 1] != wire::kNoCount)
            frame.Add(pairs[2 * pair]).Add(pairs[2 * pair + 1]);
    return CheckAck(Execute(frame.Frame(), wire::kCyclorAddress));
}

bool CKRMSProtocol::Unload(int cassetteIndex, std::uint8_t count)
{
    if (!ValidCassetteIndex(cassetteIndex))
        return Refuse();
    CFrameBuilder frame(wire::kUnload);
    frame.Add(CassetteNumber(cassetteIndex)).Add(count);
    return CheckAck(Execute(frame.Frame(), wire::kCyclorAddress));
}

std::uint8_t CKRMSProtocol::CassetteTypeByte(int mode, std::uint8_t type)
{
    // Mode 253 marks the cassette unset: bill type 31 with bit 6.
    if (mode == 253)
        return wire::kUnassignedBillType | 0x40;
    std::uint8_t value = type;
    if (mode == 252)
        value |= 0x20;
    else if (mode == 0 || mode == 1 || mode == 255)
        value |= 0x80;
    return value;
}

bool CKRMSProtocol::SetCassetteType(int cassetteIndex, int mode, std::uint8_t type)
{
    if (!ValidCassetteIndex(cassetteIndex))
        return Refuse();
    CFrameBuilder frame(wire::kSetCassetteType);
    frame.Add(CassetteNumber(cassetteIndex)).Add(CassetteTypeByte(mode, type));
    return CheckAck(Execute(frame.Frame(), wire::kCyclorAddress));
}

bool CKRMSProtocol::SetCassetteFeedingLevel(int cassetteIndex, std::uint8_t level, bool useDefault)
{
    if (!ValidCassetteIndex(cassetteIndex))
        return Refuse();
    CFrameBuilder frame(wire::kSetCassetteFeedingLevel);
    frame.Add(CassetteNumber(cassetteIndex)).Add(useDefault ? wire::kDefaultFeedingLevel : level);
    return CheckAck(Execute(frame.Frame(), wire::kCyclorAddress));
}

bool CKRMSProtocol::EmptyDispenser()
{
    return AckCommand(wire::kEmptyDispenser, wire::kCyclorAddress);
}

bool CKRMSProtocol::SetOptions(std::uint32_t options, int address)
{
    CFrameBuilder frame(wire::kSetOptions);
    frame.Add32(options);
    return CheckAck(Execute(frame.Frame(), address));
}

// ---- Commands answered with data ---------------------------------------

bool CKRMSProtocol::StatusRequest(int address)
{
    CFrameBuilder frame(wire::kStatusRequest);
    CReplyView reply(Execute(frame.Frame(), address, "STATUS REQUEST"));
    if (!reply.HasFrame())
        return false;
    std::array<std::uint32_t, 3> words {};
    bool invalid = reply.IsInvalidCommand();
    if (!invalid)
        for (int i = 0; i < 3; ++i)
            words[static_cast<std::size_t>(i)] = reply.Number(3 + 3 * i, 3);
    {
        std::lock_guard lock(m_stateMutex);
        m_statusWords = words;
    }
    if (invalid) {
        m_lastResultCode.store(kInvalidCommand);
        return false;
    }
    return true;
}

bool CKRMSProtocol::Poll(int address)
{
    CFrameBuilder frame(wire::kPoll);
    CReplyView reply(Execute(frame.Frame(), address, "POLL"));
    PollReply poll;
    if (reply.HasFrame())
        poll = PollReply { reply.Byte(3), reply.Byte(4), reply.Byte(5) };
    {
        std::lock_guard lock(m_stateMutex);
        m_lastPoll = poll;
    }
    return reply.HasFrame();
}

void CKRMSProtocol::StorePartNumber(const CCommand& command)
{
    CReplyView reply(command);
    std::string text = reply.Text(3, 15);
    std::lock_guard lock(m_stateMutex);
    m_partNumber = std::move(text);
}

bool CKRMSProtocol::Identification(int address)
{
    CFrameBuilder frame(wire::kIdentification);
    CCommand reply = Execute(frame.Frame(), address);
    CReplyView view(reply);
    if (!view.HasFrame())
        return false;
    if (view.IsInvalidCommand()) {
        m_lastResultCode.store(kInvalidCommand);
        return false;
    }
    StorePartNumber(reply);
    return true;
}

bool CKRMSProtocol::ExtendedIdentification(int address)
{
    CFrameBuilder frame(wire::kExtendedIdentification);
    CCommand reply = Execute(frame.Frame(), address);
    CReplyView view(reply);
    if (!view.HasFrame())
        return false;
    if (view.IsInvalidCommand()) {
        m_lastResultCode.store(kInvalidCommand);
        return false;
    }
    if (view.Length() < 109)
        return false;
    StorePartNumber(reply);
    return true;
}

bool CKRMSProtocol::ExtractBarcode(std::string& text, int address)
{
    CFrameBuilder frame(wire::kExtractBarcode);
    CReplyView reply(Execute(frame.Frame(), address));
    if (!CheckData(reply))
        return false;
    // Zero bytes are part of a barcode's length: take the bytes one by one.
    std::string barcode;
    for (int offset = 3; offset <= reply.Length() - 3; ++offset)
        barcode.push_back(static_cast<char>(reply.Byte(offset)));
    text = std::move(barcode);
    return true;
}

bool CKRMSProtocol::GetCassetteStatus()
{
    CFrameBuilder frame(wire::kGetCassetteStatus);
    CReplyView reply(Execute(frame.Frame(), wire::kCyclorAddress));
    if (!reply.HasFrame())
        return false;
    std::array<CassetteRecord, kCassettes> table {};
    bool invalid = reply.IsInvalidCommand();
    if (!invalid) {
        int length = reply.Length();
        for (int k = 0; k < kCassettes && 2 * k < length - 5; ++k) {
            std::uint8_t typeByte = reply.Byte(3 + 2 * k);
            CassetteRecord& record = table[static_cast<std::size_t>(k)];
            record.billType = typeByte & wire::kBillTypeMask;
            record.billCount = reply.Byte(4 + 2 * k);
            if (!(typeByte & wire::kCassettePresent))
                record.status = kCassetteUnknown;
            else if (record.billType == wire::kUnassignedBillType)
                record.status = kCassetteNotRead;
            else
                record.status = 0;
            record.escrowMark = record.billType == wire::kEscrowBillType ? 1 : 0;
        }
    }
    {
        std::lock_guard lock(m_stateMutex);
        m_cassetteTable = table;
    }
    if (invalid) {
        m_lastResultCode.store(kInvalidCommand);
        return false;
    }
    return true;
}

void CKRMSProtocol::FillBillTable(const CReplyView& reply, BillTypeEntry table[kBillTypes])
{
    int filled = 0;
    if (!reply.IsInvalidCommand()) {
        int length = reply.Length();
        for (; filled < kBillTypes && kBillGroupSize * filled < length - 5; ++filled) {
            int offset = 3 + kBillGroupSize * filled;
            table[filled].value = wire::BillValue(reply.Byte(offset), reply.Byte(offset + 4));
            table[filled].country = reply.Text(offset + 1, 3);
        }
    }
    for (int k = filled; k < kBillTypes; ++k) {
        table[k].value = 0.0f;
        table[k].country.clear();
    }
}

bool CKRMSProtocol::BillTable(BillTypeEntry table[kBillTypes], int address)
{
    if (!table)
        return Refuse();
    CFrameBuilder frame(wire::kBillTable);
    CReplyView reply(Execute(frame.Frame(), address));
    if (!reply.HasFrame())
        return false;
    bool invalid = reply.IsInvalidCommand();
    FillBillTable(reply, table);
    if (invalid) {
        m_lastResultCode.store(kInvalidCommand);
        return false;
    }
    return true;
}

bool CKRMSProtocol::GetCassetteFeedingLevel(std::uint8_t* output, int capacity)
{
    if (!output || capacity < 0)
        return Refuse();
    CFrameBuilder frame(wire::kGetCassetteFeedingLevel);
    CReplyView reply(Execute(frame.Frame(), wire::kCyclorAddress));
    if (!reply.HasFrame())
        return false;
    // This reply is judged by its first byte alone, whatever its length.
    if (reply.Byte(3) == wire::kInvalidCommand) {
        m_lastResultCode.store(kInvalidCommand);
        return false;
    }
    int dataCount = reply.Length() - 5;
    int wanted = 1 + dataCount;
    int copied = std::min(capacity, wanted);
    if (copied > 0)
        output[0] = static_cast<std::uint8_t>(std::min(dataCount, 255));
    for (int i = 1; i < copied; ++i)
        output[i] = reply.Byte(2 + i);
    return copied == wanted;
}

bool CKRMSProtocol::Crc32(std::uint32_t& value, int address)
{
    return RequestWord(wire::kCrc32, address, value);
}

bool CKRMSProtocol::GetOptions(std::uint32_t& options, int address)
{
    return RequestWord(wire::kGetOptions, address, options);
}

bool CKRMSProtocol::RequestWord(std::uint8_t code, int address, std::uint32_t& value)
{
    CFrameBuilder frame(code);
    CReplyView reply(Execute(frame.Frame(), address));
    value = 0;
    if (!CheckData(reply))
        return false;
    value = reply.Number(3, 4);
    return true;
}

bool CKRMSProtocol::ModuleIdentification(int address)
{
    CFrameBuilder frame(wire::kModuleIdentification);
    CReplyView reply(Execute(frame.Frame(), address));
    if (!CheckData(reply))
        return false;
    return reply.Length() >= 65;
}

bool CKRMSProtocol::ValidationSoftwareIdentification(int address)
{
    CFrameBuilder frame(wire::kValidationSoftwareIdentification);
    CReplyView reply(Execute(frame.Frame(), address));
    if (!CheckData(reply))
        return false;
    return reply.Length() >= 21;
}

bool CKRMSProtocol::RequestStatistics(std::uint8_t* buffer, int capacity, int address)
{
    if (!buffer || capacity < 0)
        return Refuse();
    CFrameBuilder frame(wire::kRequestStatistics);
    CReplyView reply(Execute(frame.Frame(), address));
    if (!reply.HasFrame())
        return false;
    if (!reply.IsLongFrame()) {
        std::uint8_t code = reply.Byte(3);
        if (code != 0) {
            m_lastResultCode.store(code == wire::kInvalidCommand ? kInvalidCommand : kAckNotReceived);
            std::memset(buffer, 0, static_cast<std::size_t>(capacity));
        }
        return false;
    }
    // The record runs from byte 5 up to and including the low check-code
    // byte, as the unit's own tools have always read it.
    int size = reply.Length() - 6;
    CopyOut(reply, 5, std::min(capacity, size), buffer);
    return capacity >= size;
}

// ---- Data copies --------------------------------------------------------

bool CKRMSProtocol::PowerRecovery(std::uint8_t& state, std::uint8_t* buffer, int capacity, int& count)
{
    if (!buffer || capacity < 0)
        return Refuse();
    CFrameBuilder frame(wire::kPowerRecovery);
    CReplyView reply(Execute(frame.Frame(), wire::kCyclorAddress));
    if (!reply.HasFrame())
        return false;
    if (reply.IsInvalidCommand()) {
        m_lastResultCode.store(kInvalidCommand);
        count = 0;
        return false;
    }
    state = reply.Byte(3);
    int size = reply.Length() - 6;
    if (capacity < size) {
        count = -1;
        return false;
    }
    CopyOut(reply, 4, size, buffer);
    count = size;
    return true;
}

bool CKRMSProtocol::ExtendedCassetteStatus(std::uint8_t cassetteNumber, std::uint8_t* buffer, int capacity, int& count)
{
    if (!buffer || capacity < 0)
        return Refuse();
    CFrameBuilder frame(wire::kExtendedCassetteStatus);
    frame.Add(cassetteNumber);
    CReplyView reply(Execute(frame.Frame(), wire::kCyclorAddress));
    if (!reply.HasFrame())
        return false;
    if (reply.IsInvalidCommand()) {
        m_lastResultCode.store(kInvalidCommand);
        count = 0;
        return false;
    }
    int size = reply.Length() - 6;
    if (capacity < size) {
        count = -1;
        return false;
    }
    CopyOut(reply, 4, size, buffer);
    count = size;
    return true;
}

// ---- Diagnostics --------------------------------------------------------

bool CKRMSProtocol::DiagnosticStatusRequest(std::uint8_t& status, std::uint8_t* buffer, int capacity, int& count, int address)
{
    if (!buffer || capacity < 0)
        return Refuse();
    CFrameBuilder frame(wire::kDiagnostic);
    frame.Add(wire::kDiagnosticStatusRequest);
    CReplyView reply(Execute(frame.Frame(), address));
    status = reply.Byte(3);
    count = 0;
    if (!CheckData(reply))
        return false;
    count = std::min(capacity, reply.Length() - 6);
    CopyOut(reply, 4, count, buffer);
    return true;
}

bool CKRMSProtocol::DiagnosticIdentificationRequest(int address)
{
    CFrameBuilder frame(wire::kDiagnostic);
    frame.Add(wire::kDiagnosticIdentificationRequest);
    CReplyView reply(Execute(frame.Frame(), address));
    if (!CheckData(reply))
        return false;
    return true;
}

bool CKRMSProtocol::DiagnosticSupportedFunctions(std::uint8_t* buffer, int capacity, int& count, int address)
{
    if (!buffer || capacity < 0)
        return Refuse();
    CFrameBuilder frame(wire::kDiagnostic);
    frame.Add(wire::kDiagnosticSupportedFunctions);
    CReplyView reply(Execute(frame.Frame(), address));
    count = 0;
    if (!CheckData(reply))
        return false;
    count = std::min(capacity, reply.Length() - 5);
    CopyOut(reply, 3, count, buffer);
    return true;
}


bool CKRMSProtocol::DiagnosticSensorState(int address)
{
    return DiagnosticTest(wire::kDiagnosticSensorState, address);
}

bool CKRMSProtocol::DiagnosticTestValidator(int address)
{
    return DiagnosticTest(wire::kDiagnosticTestValidator, address);
}

bool CKRMSProtocol::DiagnosticTestCassette(std::uint8_t cassetteNumber, int address)
{
    CFrameBuilder frame(wire::kDiagnostic);
    frame.Add(wire::kDiagnosticTestCassette).Add(cassetteNumber);
    return CheckAck(Execute(frame.Frame(), address));
}

bool CKRMSProtocol::DiagnosticTestDispenser(int address)
{
    return DiagnosticTest(wire::kDiagnosticTestDispenser, address);
}

bool CKRMSProtocol::DiagnosticTestSwitch(int address)
{
    return DiagnosticTest(wire::kDiagnosticTestSwitch, address);
}

bool CKRMSProtocol::DiagnosticTestChassis(int address)
{
    return DiagnosticTest(wire::kDiagnosticTestChassis, address);
}

bool CKRMSProtocol::DiagnosticTestCommunication(int address)
{
    return DiagnosticTest(wire::kDiagnosticTestCommunication, address);
}

bool CKRMSProtocol::Diagnostic(std::uint8_t subCommand, const std::uint8_t* data, int count, int address)
{
    // The sub-command takes one of the short frame's parameter bytes.
    if (count < 0 || count > CFrameBuilder::kMaximumParameters - 1 || (count > 0 && !data))
        return Refuse();
    CFrameBuilder frame(wire::kDiagnostic);
    frame.Add(subCommand);
    for (int i = 0; i < count; ++i)
        frame.Add(data[i]);
    return CheckAck(Execute(frame.Frame(), address, "DIAGNOSTIC"));
}

// ---- Clock --------------------------------------------------------------

bool CKRMSProtocol::SetCyTime(std::time_t time)
{
    std::tm local {};
    if (!ToLocalTime(time, local))
        return Refuse();
    CFrameBuilder frame(wire::kCyTime);
    frame.Add(ToBcd(local.tm_sec))
        .Add(ToBcd(local.tm_min))
        .Add(ToBcd(local.tm_hour))
        .Add(static_cast<std::uint8_t>(local.tm_wday + 1)) // 1 = Sunday
        .Add(ToBcd(local.tm_mday))
        .Add(ToBcd(local.tm_mon + 1))
        .Add(ToBcd(local.tm_year % 100));
    return CheckAck(Execute(frame.Frame(), wire::kCyclorAddress));
}

bool CKRMSProtocol::GetCyTime(std::time_t& time)
{
    CFrameBuilder frame(wire::kCyTime);
    CReplyView reply(Execute(frame.Frame(), wire::kCyclorAddress));
    if (!reply.HasFrame())
        return false;
    // Only the bare six-byte reply is a refusal: a clock that reads 30
    // seconds also starts with 0x30.
    if (reply.IsInvalidCommand()) {
        m_lastResultCode.store(kInvalidCommand);
        return false;
    }
    // A month of 0 is the unit saying it has no valid time.
    if (reply.Byte(8) == 0)
        return false;
    int second = 0, minute = 0, hour = 0, day = 0, month = 0, year = 0;
    if (!FromBcd(reply.Byte(3), second) || !FromBcd(reply.Byte(4), minute) || !FromBcd(reply.Byte(5), hour)
        || !FromBcd(reply.Byte(7), day) || !FromBcd(reply.Byte(8), month) || !FromBcd(reply.Byte(9), year))
        return false;
    std::tm calendar {};
    calendar.tm_sec = second;
    calendar.tm_min = minute;
    calendar.tm_hour = hour;
    calendar.tm_mday = day;
    calendar.tm_mon = month - 1;
    calendar.tm_year = 2000 + year - 1900;
    return FromLocalTime(calendar, time);
}

} // namespace orvex
