#include "protocol/CKRMSProtocol.h"

#include "protocol/CFrameBuilder.h"
#include "protocol/CReplyView.h"

#include "link/WireVocabulary.h"

#include <cmath>
#include <optional>

namespace orvex {

namespace {

constexpr int kFundsEntrySize = 8; // currency (3), amount (4), exponent (1)
constexpr std::uint8_t kFundsNotAvailable = 0xFF;
constexpr std::uint8_t kLastFundsCount = 231;
// Without a funds table the exponent is searched up to this value.
constexpr int kLargestExponent = 254;
// A scaled price this close to a whole number is one: the binary form of
// a decimal price is off by a few units in the 16th digit, and an amount
// that fits 32 bits has at most ten digits.
constexpr long double kWholeTolerance = 1e-12L;

long double PowerOfTen(int exponent)
{
    long double power = 1.0L;
    for (int i = 0; i < exponent; ++i)
        power *= 10.0L;
    return power;
}

bool FitsAmount(long double value)
{
    return value >= 0.0L && value <= 4294967295.0L;
}

// The amount of a money value in the reader's units: with a funds entry,
// rounded at that entry's exponent; without one, scaled by the smallest
// power of ten that makes it whole. Empty when it cannot be sent as an
// unsigned 32-bit amount.
std::optional<std::uint32_t> Amount(double value, const CassetteRecord* funds, int entryIndex)
{
    if (!std::isfinite(value) || value < 0.0)
        return std::nullopt;
    if (funds) {
        if (entryIndex < 0 || entryIndex >= kFundsEntries)
            return std::nullopt;
        long double scaled = std::floor(static_cast<long double>(value) * PowerOfTen(funds[entryIndex].decimalExponent) + 0.5L);
        if (!FitsAmount(scaled))
            return std::nullopt;
        return static_cast<std::uint32_t>(scaled);
    }
    long double scaled = value;
    for (int exponent = 0; exponent <= kLargestExponent; ++exponent) {
        scaled = static_cast<long double>(value) * PowerOfTen(exponent);
        long double whole = std::nearbyint(scaled);
        if (std::fabs(scaled - whole) <= kWholeTolerance * std::fmax(1.0L, std::fabs(scaled)))
            return FitsAmount(whole) ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(whole)) : std::nullopt;
        if (!FitsAmount(scaled))
            return std::nullopt;
    }
    return std::nullopt;
}

CassetteRecord EmptyFundsEntry()
{
    CassetteRecord entry;
    entry.status = kCassetteUnknown;
    entry.unloadMinute = 0;
    return entry;
}

} // namespace

std::uint32_t CKRMSProtocol::ConvertAmount(double value, const CassetteRecord* funds, int entryIndex)
{
    return Amount(value, funds, entryIndex).value_or(0);
}

bool CKRMSProtocol::CardReaderSetup(std::uint8_t scale, const std::string& text, std::uint8_t& first, std::uint8_t& second)
{
    CFrameBuilder frame(wire::kReaderSetup);
    frame.Add(scale);
    // Three characters always go out; a shorter text is padded with zeros.
    for (std::size_t i = 0; i < 3; ++i)
        frame.Add(i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
    CReplyView reply(Execute(frame.Frame(), wire::kCardReaderAddress));
    if (!reply.HasFrame())
        return false;
    first = reply.Byte(3);
    second = reply.Byte(4);
    return true;
}

bool CKRMSProtocol::GetFunds(CassetteRecord funds[kFundsEntries], std::uint8_t& firstByte)
{
    if (!funds)
        return Refuse();
    CFrameBuilder frame(wire::kReaderSession);
    frame.Add(wire::kGetFunds);
    CReplyView reply(Execute(frame.Frame(), wire::kCardReaderAddress));
    if (!reply.HasFrame()) {
        for (int k = 0; k < kFundsEntries; ++k)
            funds[k] = EmptyFundsEntry();
        return false;
    }
    firstByte = reply.Byte(3);
    if (firstByte == wire::kInvalidCommand) {
        m_lastResultCode.store(kInvalidCommand);
        return false;
    }
    if (firstByte == kFundsNotAvailable) {
        m_lastResultCode.store(kAckNotReceived);
        return false;
    }
    int filled = 0;
    int length = reply.Length();
    if (firstByte <= kLastFundsCount && length >= 7) {
        for (; filled < kFundsEntries && kFundsEntrySize * filled < length - 6; ++filled) {
            int offset = 4 + kFundsEntrySize * filled;
            CassetteRecord entry = EmptyFundsEntry();
            entry.status = 0;
            entry.country = reply.Text(offset, 3);
            entry.decimalExponent = reply.Byte(offset + 7);
            entry.value = static_cast<double>(reply.Number(offset + 3, 4) / PowerOfTen(entry.decimalExponent));
            funds[filled] = entry;
        }
    }
    for (int k = filled; k < kFundsEntries; ++k)
        funds[k] = EmptyFundsEntry();
    return true;
}

bool CKRMSProtocol::VendRequest(int entryIndex, double price, double& runningTotal, const CassetteRecord* funds, bool secondForm)
{
    // The entry index travels as one byte, and picks the exponent when a
    // funds table is given.
    if (entryIndex < 0 || entryIndex > (funds ? kFundsEntries - 1 : 255))
        return Refuse();
    auto amount = Amount(price, funds, entryIndex);
    if (!amount)
        return Refuse();
    if (*amount == 0) {
        m_lastResultCode.store(kOk);
        return true;
    }
    auto total = Amount(runningTotal + price, funds, entryIndex);
    if (!total)
        return Refuse();
    CFrameBuilder frame(wire::kReaderSession);
    frame.Add(secondForm ? wire::kVendRequestSecondForm : wire::kVendRequest).Add(static_cast<std::uint8_t>(entryIndex)).Add32(*amount).Add32(*total);
    if (!CheckAck(Execute(frame.Frame(), wire::kCardReaderAddress)))
        return false;
    runningTotal += price;
    return true;
}

bool CKRMSProtocol::VendCancel(std::uint8_t& replyByte)
{
    CFrameBuilder frame(wire::kReaderSession);
    frame.Add(wire::kVendCancel);
    CCommand reply = Execute(frame.Frame(), wire::kCardReaderAddress);
    CReplyView view(reply);
    if (view.HasFrame())
        replyByte = view.Byte(3);
    return CheckAck(reply, kExecutionError);
}

bool CKRMSProtocol::EndSession()
{
    CFrameBuilder frame(wire::kReaderSession);
    frame.Add(wire::kEndSession);
    return CheckAck(Execute(frame.Frame(), wire::kCardReaderAddress));
}

bool CKRMSProtocol::StartSession()
{
    CFrameBuilder frame(wire::kReaderSession);
    frame.Add(wire::kStartSession);
    return CheckAck(Execute(frame.Frame(), wire::kCardReaderAddress));
}

bool CKRMSProtocol::EnableCR(std::uint8_t mode)
{
    CFrameBuilder frame(wire::kEnableReader);
    frame.Add(mode);
    return CheckAck(Execute(frame.Frame(), wire::kCardReaderAddress));
}

bool CKRMSProtocol::CRIdentification()
{
    CFrameBuilder frame(wire::kReaderIdentification);
    return CReplyView(Execute(frame.Frame(), wire::kCardReaderAddress)).HasFrame();
}

bool CKRMSProtocol::PollCR()
{
    CFrameBuilder frame(wire::kReaderPoll);
    CReplyView reply(Execute(frame.Frame(), wire::kCardReaderAddress));
    if (!reply.HasFrame())
        return false;
    // A six-byte reply has no sub-state: byte 4 is its check code.
    PollReply poll { reply.Byte(3), reply.Byte(4), 0 };
    std::lock_guard lock(m_stateMutex);
    m_lastReaderPoll = poll;
    return true;
}

} // namespace orvex
