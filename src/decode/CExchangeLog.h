#pragma once

#include "decode/CLogLock.h"
#include "decode/CLogSink.h"
#include "decode/DecodeContext.h"
#include "protocol/COutputInterface.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

class CKRMSProtocol;

// The time on an exchange's header: "10:15:00", with microseconds
// "10:15:00.123456" (orvexctl --timestamps), or with milliseconds
// "10:15:00.123" (the window's "Times with ms").
enum class HeaderClock : std::uint8_t { Seconds, Microseconds, Milliseconds };

// The exchange log: the protocol engine's observer. Every finished exchange
// becomes a header with the command's name and time, the decoded request
// and reply lines (and, on request, the raw record), and a separator.
class CExchangeLog : public COutputInterface {
public:
    // The protocol engine may be null: then OnCommandDone writes nothing,
    // while WriteExchange still writes the records it is given.
    CExchangeLog(CKRMSProtocol* protocol, CLogSink& sink, DecodeContextSource contextSource = {});
    ~CExchangeLog() override = default;
    CExchangeLog(const CExchangeLog&) = delete;
    CExchangeLog& operator=(const CExchangeLog&) = delete;

    // One free-standing line: added and selected, a separator, and the
    // status box set to it. Takes no lock.
    void OutputLine(std::string line) override;
    // Writes the exchange the protocol engine holds the record of.
    void OnCommandDone(std::string name) override;

    // Writes one exchange from an explicit record, under the log lock, as
    // OnCommandDone does with the engine's record. `when` is the header time.
    void WriteExchange(std::string_view name, const std::vector<std::string>& record, std::time_t when);
    void WriteExchange(std::string_view name, const std::vector<std::string>& record);
    // The same, with the header time in ns since the epoch (a watched or
    // recorded exchange's own time).
    void WriteExchangeAt(std::string_view name, const std::vector<std::string>& record, std::int64_t whenNs);

    void SetHeaderClock(HeaderClock clock) { m_headerClock.store(clock); }
    HeaderClock GetHeaderClock() const { return m_headerClock.load(); }

    // Set before the first exchange; called at every decode.
    void SetContextSource(DecodeContextSource source);

    // "Display exchange": 1 = decode the exchanges.
    void SetDecodeFlag(std::int32_t value) { m_decodeFlag.store(value); }
    std::int32_t GetDecodeFlag() const { return m_decodeFlag.load(); }
    // Set while polling mode or a multi-step operation runs: identical
    // consecutive exchanges are written once.
    void SetSequenceFlag(std::uint8_t value) { m_sequenceFlag.store(value); }
    std::uint8_t GetSequenceFlag() const { return m_sequenceFlag.load(); }
    // "Display communication data": 1 = add the raw record lines.
    void SetRawFrames(std::uint8_t value) { m_rawFrames.store(value); }

    // The name and record lines of the last exchange written; emptied when
    // polling mode starts.
    std::string GetLastExchangeText() const;
    void ClearLastExchangeText();

    static constexpr std::string_view kSeparator =
        "------------------------------------------------------------------------------------------------------------------------------------";

private:
    struct PendingExchange {
        std::string name;
        std::vector<std::string> record;
        std::int64_t whenNs;
    };

    // The steps below run with the log lock held.
    void WriteOne(std::string_view name, const std::vector<std::string>& record, std::int64_t whenNs);
    // After JoinExchange: keeps the joined text as the last exchange's.
    void WriteDecoded(std::string_view name, const std::vector<std::string>& record, std::int64_t whenNs, bool decode);
    void JoinExchange(std::string_view name, const std::vector<std::string>& record);
    std::string_view HeaderTime(std::int64_t whenNs);
    void DrainPending();
    // Releases the log lock, and takes it back to write what was deferred
    // meanwhile.
    void ReleaseLogLock();

    CKRMSProtocol* m_protocol;
    CLogSink& m_sink;

    std::atomic<std::int32_t> m_decodeFlag { 1 };
    std::atomic<std::uint8_t> m_sequenceFlag { 0 };
    std::atomic<HeaderClock> m_headerClock { HeaderClock::Seconds };

    // Serialises the writing of exchanges; waited for at most 1000 ms, after
    // which the exchange is deferred rather than dropped.
    CLogLock m_logLock;

    // Guards m_pending: exchanges that could not get the log lock in time,
    // written by the next holder of the lock before its own.
    std::mutex m_pendingMutex;
    std::vector<PendingExchange> m_pending;

    // Guards m_lastExchangeText (written with the log lock held, emptied by
    // the window when polling mode starts).
    mutable std::mutex m_stateMutex;
    std::string m_lastExchangeText;

    // Guards m_contextSource (set by the owner, called by whichever thread
    // writes an exchange).
    std::mutex m_sourceMutex;
    DecodeContextSource m_contextSource;

    // Scratch used only with the log lock held.
    DecodeOutput m_output;
    std::string m_joined;
    std::string m_printable;
    std::string m_header;
    std::time_t m_headerTime { 0 };
    char m_headerTimeText[16] {};
    char m_headerMicroseconds[40] {};
};

} // namespace orvex
