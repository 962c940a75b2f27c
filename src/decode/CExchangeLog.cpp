#include "decode/CExchangeLog.h"

#include "decode/Decoders.h"
#include "link/CLineTap.h"
#include "link/LocalTime.h"
#include "protocol/CKRMSProtocol.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace orvex {

namespace {

constexpr auto kLogLockWait = std::chrono::milliseconds(1000);
constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

// Device texts (barcodes, identification strings, country codes) reach
// the decoded lines byte for byte; a control byte among them would split a
// line of the saved log in two, or drive the terminal orvexctl writes to,
// so it is shown as '?'.
bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// Looks at eight characters at a time: nearly every line has no control
// byte, and the log writes every line through here.
bool HasControl(std::string_view line)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    std::size_t at = 0;
    for (; at + 8 <= line.size(); at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, line.data() + at, sizeof word);
        // A byte below 0x20, or a byte equal to 0x7F (zero once XORed with it).
        const std::uint64_t below = (word - kOnes * 0x20) & ~word & kHighs;
        const std::uint64_t deleteBytes = word ^ (kOnes * 0x7F);
        const std::uint64_t equal = (deleteBytes - kOnes) & ~deleteBytes & kHighs;
        if ((below | equal) != 0)
            return true;
    }
    return std::any_of(line.begin() + static_cast<std::ptrdiff_t>(at), line.end(), IsControl);
}

std::string_view Printable(std::string_view line, std::string& scratch)
{
    if (!HasControl(line))
        return line;
    scratch.assign(line);
    std::replace_if(scratch.begin(), scratch.end(), IsControl, '?');
    return scratch;
}

} // namespace

CExchangeLog::CExchangeLog(CKRMSProtocol* protocol, CLogSink& sink, DecodeContextSource contextSource)
    : m_protocol(protocol)
    , m_sink(sink)
    , m_contextSource(std::move(contextSource))
{
    m_rawFrames.store(0);
}

void CExchangeLog::SetContextSource(DecodeContextSource source)
{
    std::lock_guard guard(m_sourceMutex);
    m_contextSource = std::move(source);
}

std::string CExchangeLog::GetLastExchangeText() const
{
    std::lock_guard guard(m_stateMutex);
    return m_lastExchangeText;
}

void CExchangeLog::ClearLastExchangeText()
{
    std::lock_guard guard(m_stateMutex);
    m_lastExchangeText.clear();
}

void CExchangeLog::OutputLine(std::string line)
{
    m_sink.AddLine(line);
    m_sink.SelectLastLine();
    m_sink.AddLine(kSeparator);
    m_sink.SetStatusText(line);
}

void CExchangeLog::OnCommandDone(std::string name)
{
    if (!m_protocol)
        return;
    // Called with the engine's lock held, so the record is this exchange's.
    WriteExchangeAt(name, m_protocol->GetExchangeRecord(), WallClockNanoseconds());
}

void CExchangeLog::WriteExchange(std::string_view name, const std::vector<std::string>& record)
{
    WriteExchangeAt(name, record, WallClockNanoseconds());
}

void CExchangeLog::WriteExchange(std::string_view name, const std::vector<std::string>& record, std::time_t when)
{
    WriteExchangeAt(name, record, static_cast<std::int64_t>(when) * kNanosecondsPerSecond);
}

void CExchangeLog::WriteExchangeAt(std::string_view name, const std::vector<std::string>& record, std::int64_t whenNs)
{
    if (m_logLock.TryAcquireFor(kLogLockWait)) {
        DrainPending();
        WriteOne(name, record, whenNs);
        ReleaseLogLock();
        return;
    }
    // Rather than drop the exchange, leave a copy for whoever holds the
    // lock; the engine's lock is not held up any longer.
    {
        std::lock_guard guard(m_pendingMutex);
        m_pending.push_back(PendingExchange { std::string(name), record, whenNs });
    }
    // The holder may have released the lock before it could see the copy.
    if (m_logLock.TryAcquire()) {
        DrainPending();
        ReleaseLogLock();
    }
}

void CExchangeLog::DrainPending()
{
    for (;;) {
        std::vector<PendingExchange> pending;
        {
            std::lock_guard guard(m_pendingMutex);
            pending.swap(m_pending);
        }
        if (pending.empty())
            return;
        for (const PendingExchange& exchange : pending)
            WriteOne(exchange.name, exchange.record, exchange.whenNs);
    }
}

void CExchangeLog::ReleaseLogLock()
{
    for (;;) {
        m_logLock.Release();
        {
            std::lock_guard guard(m_pendingMutex);
            if (m_pending.empty())
                return;
        }
        // An exchange was deferred after the last look; write it unless
        // another writer has taken the lock (and will write it itself).
        if (!m_logLock.TryAcquire())
            return;
        DrainPending();
    }
}

void CExchangeLog::WriteOne(std::string_view name, const std::vector<std::string>& record, std::int64_t when)
{
    bool decode = m_decodeFlag.load() != 0;
    if (m_rawFrames.load() != 0) {
        JoinExchange(name, record);
        WriteDecoded(name, record, when, decode);
        for (const std::string& line : record)
            m_sink.AddLine(line);
        if (!record.empty())
            m_sink.SelectLastLine();
        m_sink.AddLine(kSeparator);
        return;
    }
    JoinExchange(name, record);
    if (m_sequenceFlag.load() != 0) {
        std::lock_guard guard(m_stateMutex);
        // Identical consecutive exchanges while polling leave no trace.
        if (m_joined == m_lastExchangeText)
            return;
    }
    if (!decode)
        return;
    WriteDecoded(name, record, when, decode);
    m_sink.AddLine(kSeparator);
}

void CExchangeLog::JoinExchange(std::string_view name, const std::vector<std::string>& record)
{
    m_joined.assign(name);
    for (const std::string& line : record)
        m_joined.append(line);
}

std::string_view CExchangeLog::HeaderTime(std::int64_t whenNs)
{
    // Floor division: a time before the epoch still names its own second.
    std::int64_t seconds = whenNs / kNanosecondsPerSecond;
    if (whenNs % kNanosecondsPerSecond < 0)
        --seconds;
    const std::time_t when = static_cast<std::time_t>(seconds);
    if (when != m_headerTime || m_headerTimeText[0] == '\0') {
        std::tm local {};
        if (!ToLocalTime(when, local) || std::strftime(m_headerTimeText, sizeof m_headerTimeText, "%H:%M:%S", &local) == 0)
            m_headerTimeText[0] = '\0';
        m_headerTime = when;
    }
    if (m_headerClock.load() == HeaderClock::Seconds || m_headerTimeText[0] == '\0')
        return m_headerTimeText;
    const int microseconds = static_cast<int>((whenNs - seconds * kNanosecondsPerSecond) / 1000) % 1000000;
    if (m_headerClock.load() == HeaderClock::Milliseconds)
        std::snprintf(m_headerMicroseconds, sizeof m_headerMicroseconds, "%s.%03d", m_headerTimeText, microseconds / 1000);
    else
        std::snprintf(m_headerMicroseconds, sizeof m_headerMicroseconds, "%s.%06d", m_headerTimeText, microseconds);
    return m_headerMicroseconds;
}

void CExchangeLog::WriteDecoded(std::string_view name, const std::vector<std::string>& record, std::int64_t when, bool decode)
{
    m_header.assign("->").append(name).append(" (").append(HeaderTime(when)).append(")");
    m_sink.AddLine(m_header);

    {
        std::lock_guard guard(m_stateMutex);
        m_lastExchangeText.assign(m_joined);
    }
    if (!decode)
        return;
    if (record.size() < 2) {
        m_sink.AddLine("<- ... (no response)");
        m_sink.SelectLastLine();
        return;
    }
    const DecoderEntry* entry = FindDecoders(name);
    if (!entry) {
        m_sink.AddLine("");
        return;
    }

    DecodeContext context;
    {
        std::lock_guard guard(m_sourceMutex);
        if (m_contextSource)
            context = m_contextSource();
    }
    std::span<const std::string> lines(record);
    m_output.Clear();
    if (entry->request) {
        entry->request(DecodeInput { record[0], lines, context }, m_output);
        for (const std::string& line : m_output.Lines())
            m_sink.AddLine(Printable(line, m_printable));
        m_output.ClearLines();
    }
    std::string last = entry->reply(DecodeInput { record[1], lines, context }, m_output);
    for (const std::string& line : m_output.Lines())
        m_sink.AddLine(Printable(line, m_printable));
    m_sink.AddLine(Printable(last, m_printable));
    m_sink.SelectLastLine();
    if (m_output.HasStatusText())
        m_sink.SetStatusText(Printable(m_output.StatusText(), m_printable));
}

} // namespace orvex
