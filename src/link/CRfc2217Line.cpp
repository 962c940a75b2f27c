#include "link/CRfc2217Line.h"

#include <cerrno>

namespace orvex {

namespace {

// Telnet (RFC 854) and its options.
constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;
constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPortOption = 44;

// COM-PORT-OPTION commands (RFC 2217); the server answers with 100 added.
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kPurgeData = 12;
constexpr std::uint8_t kServerOffset = 100;

constexpr std::uint8_t kNoFlowControl = 1;
constexpr std::uint8_t kDtrOff = 9;
constexpr std::uint8_t kRtsOn = 11;
constexpr std::uint8_t kRtsOff = 12;
constexpr std::uint8_t kParityNone = 1;
constexpr std::uint8_t kParityOdd = 2;
constexpr std::uint8_t kParityEven = 3;
constexpr std::uint8_t kPurgeReceived = 1; // the server's buffer of bytes from the unit
constexpr std::uint8_t kPurgeBoth = 3;

constexpr std::size_t kLongestSubnegotiation = 64;

bool Wanted(std::uint8_t option)
{
    return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}

} // namespace

int CRfc2217Line::AfterConnect(Deadline deadline)
{
    m_state = DecodeState::Data;
    m_subnegotiation.clear();
    m_queued.clear();
    m_remoteEnabled = {};
    m_localEnabled = {};
    m_comPortAccepted = false;
    m_comPortRefused = false;
    m_answers = {};
    m_modemUnconfirmed = false;
    // Binary both ways, so that no CR or NUL is added or taken away.
    for (std::uint8_t option : { kComPortOption, kBinary, kSuppressGoAhead }) {
        m_queued.insert(m_queued.end(), { kIac, kWill, option });
        m_localEnabled[option] = true;
    }
    for (std::uint8_t option : { kBinary, kSuppressGoAhead }) {
        m_queued.insert(m_queued.end(), { kIac, kDo, option });
        m_remoteEnabled[option] = true;
    }
    LineResult sent = SendQueued(deadline);
    if (!sent.Complete())
        return ECONNRESET;
    while (!m_comPortAccepted && !m_comPortRefused) {
        LineResult result = Receive(deadline);
        if (result.fault == LineFault::ConnectionRefused)
            return result.error;
        if (!result.Complete())
            return result.fault == LineFault::Timeout ? ETIMEDOUT : ECONNRESET;
        SendQueued(deadline);
    }
    // A telnet server without the COM-PORT-OPTION cannot set the line.
    return m_comPortRefused ? EPROTONOSUPPORT : 0;
}

void CRfc2217Line::Take(const std::uint8_t* bytes, std::size_t count)
{
    std::vector<std::uint8_t>& data = Received();
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        switch (m_state) {
        case DecodeState::Data:
            if (byte == kIac)
                m_state = DecodeState::Command;
            else
                data.push_back(byte);
            break;
        case DecodeState::Command:
            if (byte == kIac) {
                data.push_back(kIac);
                m_state = DecodeState::Data;
            } else if (byte >= kWill && byte <= kDont) {
                m_verb = byte;
                m_state = DecodeState::Option;
            } else if (byte == kSb) {
                m_subnegotiation.clear();
                m_state = DecodeState::Subnegotiation;
            } else {
                m_state = DecodeState::Data; // NOP, GA and the like
            }
            break;
        case DecodeState::Option:
            Negotiate(m_verb, byte);
            m_state = DecodeState::Data;
            break;
        case DecodeState::Subnegotiation:
            if (byte == kIac)
                m_state = DecodeState::SubnegotiationCommand;
            else if (m_subnegotiation.size() < kLongestSubnegotiation)
                m_subnegotiation.push_back(byte);
            break;
        case DecodeState::SubnegotiationCommand:
            if (byte == kIac) {
                if (m_subnegotiation.size() < kLongestSubnegotiation)
                    m_subnegotiation.push_back(kIac);
                m_state = DecodeState::Subnegotiation;
            } else {
                if (byte == kSe)
                    Subnegotiation();
                m_state = DecodeState::Data;
            }
            break;
        }
    }
}

void CRfc2217Line::Negotiate(std::uint8_t verb, std::uint8_t option)
{
    // Answer only a change of state, so that two ends never loop.
    switch (verb) {
    case kWill:
        if (!Wanted(option))
            m_queued.insert(m_queued.end(), { kIac, kDont, option });
        else if (!m_remoteEnabled[option]) {
            m_remoteEnabled[option] = true;
            m_queued.insert(m_queued.end(), { kIac, kDo, option });
        }
        break;
    case kWont:
        if (m_remoteEnabled[option]) {
            m_remoteEnabled[option] = false;
            m_queued.insert(m_queued.end(), { kIac, kDont, option });
        }
        break;
    case kDo:
        if (option == kComPortOption)
            m_comPortAccepted = true;
        if (!Wanted(option))
            m_queued.insert(m_queued.end(), { kIac, kWont, option });
        else if (!m_localEnabled[option]) {
            m_localEnabled[option] = true;
            m_queued.insert(m_queued.end(), { kIac, kWill, option });
        }
        break;
    case kDont:
        if (option == kComPortOption)
            m_comPortRefused = true;
        if (m_localEnabled[option]) {
            m_localEnabled[option] = false;
            m_queued.insert(m_queued.end(), { kIac, kWont, option });
        }
        break;
    default:
        break;
    }
}

void CRfc2217Line::Subnegotiation()
{
    if (m_subnegotiation.size() < 2 || m_subnegotiation[0] != kComPortOption)
        return;
    const std::uint8_t command = m_subnegotiation[1];
    if (command >= kServerOffset && command - kServerOffset < static_cast<int>(m_answers.size()))
        ++m_answers[static_cast<std::size_t>(command - kServerOffset)];
}

void CRfc2217Line::QueueComPort(std::uint8_t command, const std::vector<std::uint8_t>& value)
{
    m_queued.insert(m_queued.end(), { kIac, kSb, kComPortOption, command });
    for (std::uint8_t byte : value) {
        m_queued.push_back(byte);
        if (byte == kIac)
            m_queued.push_back(kIac);
    }
    m_queued.insert(m_queued.end(), { kIac, kSe });
}

LineResult CRfc2217Line::SendQueued(Deadline deadline)
{
    if (m_queued.empty())
        return {};
    std::vector<std::uint8_t> queued;
    queued.swap(m_queued);
    return Send(queued.data(), queued.size(), deadline);
}

LineResult CRfc2217Line::WaitForAnswer(std::uint8_t command, unsigned before, Deadline deadline)
{
    while (m_answers[command] == before) {
        LineResult result = Receive(deadline);
        if (!result.Complete())
            return result;
        SendQueued(deadline);
    }
    return {};
}

int CRfc2217Line::Configure(const LineMode& mode)
{
    if (!IsOpen())
        return EBADF;
    const auto baud = static_cast<std::uint32_t>(mode.baud);
    const std::array<unsigned, 16> before = m_answers;
    QueueComPort(kSetBaudRate,
        { static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
            static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud) });
    QueueComPort(kSetDataSize, { static_cast<std::uint8_t>(mode.dataBits) });
    QueueComPort(kSetParity,
        { mode.parity == Parity::None ? kParityNone : mode.parity == Parity::Odd ? kParityOdd : kParityEven });
    QueueComPort(kSetStopSize, { static_cast<std::uint8_t>(mode.stopBits == 2 ? 2 : 1) });
    // As on a tty: no flow control, DTR and RTS low.
    QueueComPort(kSetControl, { kNoFlowControl });
    QueueComPort(kSetControl, { kDtrOff });
    QueueComPort(kSetControl, { kRtsOff });
    const Deadline deadline = std::chrono::steady_clock::now() + kSettingsTimeout;
    LineResult sent = SendQueued(deadline);
    if (!sent.Complete())
        return sent.error != 0 ? sent.error : ECONNRESET;
    for (std::uint8_t command : { kSetBaudRate, kSetDataSize, kSetParity, kSetStopSize }) {
        LineResult answer = WaitForAnswer(command, before[command], deadline);
        // ser2net greets a client beyond its limit like any other, then
        // says the port is in use and closes.
        if (answer.fault == LineFault::ConnectionRefused)
            return answer.error;
        if (!answer.Complete())
            return answer.fault == LineFault::Timeout ? ETIMEDOUT : ECONNRESET;
    }
    return 0;
}

LineResult CRfc2217Line::WriteAll(const std::uint8_t* buffer, int count, Deadline deadline)
{
    // Queued commands (a purge) and the frame go out in one segment.
    for (int i = 0; i < count; ++i) {
        m_queued.push_back(buffer[i]);
        if (buffer[i] == kIac)
            m_queued.push_back(kIac);
    }
    LineResult result = SendQueued(deadline);
    result.transferred = result.Complete() ? count : 0;
    return result;
}

void CRfc2217Line::Flush(FlushDirection direction)
{
    CTcpLine::Flush(direction);
    // The server's buffers are purged too; the command waits to go out with
    // the next frame, and its confirmation is not waited for.
    QueueComPort(kPurgeData, { direction == FlushDirection::Both ? kPurgeBoth : kPurgeReceived });
}

LineResult CRfc2217Line::SetRts(RtsLevel level)
{
    const unsigned before = m_answers[kSetControl];
    QueueComPort(kSetControl, { level == RtsLevel::High ? kRtsOn : kRtsOff });
    const Deadline deadline = std::chrono::steady_clock::now() + kModemTimeout;
    LineResult sent = SendQueued(deadline);
    if (!sent.Complete())
        return sent;
    if (m_modemUnconfirmed)
        return { LineFault::Unconfirmed, 0, 0 };
    // ser2net serving a pty cannot move the line and never answers.
    LineResult answer = WaitForAnswer(kSetControl, before, deadline);
    if (answer.fault == LineFault::Timeout) {
        m_modemUnconfirmed = true;
        return { LineFault::Unconfirmed, 0, 0 };
    }
    return answer;
}

} // namespace orvex
