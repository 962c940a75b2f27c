#include "protocol/CKRMSProtocol.h"

#include "link/CLineReturnWait.h"
#include "link/CheckCode.h"
#include "link/Frame.h"
#include "link/WireVocabulary.h"
#include "protocol/ExchangeRecord.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>

namespace orvex {

namespace {

constexpr auto kLockWait = std::chrono::milliseconds(1000);

// The address and check code are filled in by Transact.
CCommand ToCommand(const std::vector<std::uint8_t>& frame)
{
    return CCommand(frame.data(), 0, static_cast<int>(frame.size()));
}

} // namespace

CKRMSProtocol::CKRMSProtocol()
    : m_port(std::make_unique<CCOMPort>())
{
}

CKRMSProtocol::CKRMSProtocol(CPortTable table)
    : m_port(std::make_unique<CCOMPort>(std::move(table)))
{
}

CKRMSProtocol::CKRMSProtocol(std::unique_ptr<CCOMPort> port)
    : m_port(std::move(port))
{
}

CKRMSProtocol::~CKRMSProtocol()
{
    if (HoldsLock()) {
        m_lockHolder.store(std::thread::id());
        m_lock.Release();
    }
    if (m_port)
        m_port->Close();
}

int CKRMSProtocol::OpenPort(int portIndex, int responseTimeout)
{
    // Re-opening replaces the line under the port; an exchange running on
    // the other thread must not be reading it then. An exchange that does
    // not end within the lock wait leaves the port as it is.
    int opened = 0;
    BetweenExchanges([&] {
        m_responseTimeout.store(responseTimeout);
        std::string mode = m_serialMode.Get();
        opened = m_port->Open(portIndex, mode.c_str(), responseTimeout);
    });
    return opened;
}

bool CKRMSProtocol::BetweenExchanges(const std::function<void()>& change)
{
    bool ownLock = !HoldsLock();
    if (ownLock && !m_lock.TryAcquireFor(kLockWait))
        return false;
    change();
    if (ownLock)
        m_lock.Release();
    return true;
}

namespace {

constexpr const char* kTableBusy = "the port is busy with an exchange; try again";

} // namespace

int CKRMSProtocol::AddPortPath(const std::string& path, std::string& error)
{
    int index = -1;
    if (!BetweenExchanges([&] { index = m_port->AddPath(path); }))
        error = kTableBusy;
    else if (index < 0)
        error = "every port slot from COM5 to COM16 is in use";
    return index;
}

bool CKRMSProtocol::RescanPorts(std::string& error)
{
    if (BetweenExchanges([this] { m_port->Rescan(); }))
        return true;
    error = kTableBusy;
    return false;
}

bool CKRMSProtocol::ClosePort()
{
    return BetweenExchanges([this] { m_port->Close(); });
}

bool CKRMSProtocol::HoldsLock() const
{
    return m_lockHolder.load() == std::this_thread::get_id();
}

const std::vector<std::string>& CKRMSProtocol::GetExchangeRecord() const
{
    static const std::vector<std::string> empty;
    return HoldsLock() ? m_exchangeRecord : empty;
}

const CCommand& CKRMSProtocol::GetLastSent() const
{
    static const CCommand empty;
    return HoldsLock() ? m_lastSent : empty;
}

CCommand CKRMSProtocol::Transact(const CCommand& command, int address)
{
    CCommand frame(command);
    if (frame.GetBytes() && frame.GetLength() >= kShortestFrame) {
        int length = FrameLength(frame.GetBytes());
        if (length > frame.GetLength())
            length = frame.GetLength();
        FinishFrame(frame.GetBytes(), length, static_cast<std::uint8_t>(address));
    }
    m_lastSent = frame;

    m_port->Purge(FlushDirection::Both);
    const std::uint8_t* bytes = frame.GetBytes();
    int length = bytes ? FrameLength(bytes) : 0;
    if (length > frame.GetLength())
        length = frame.GetLength();
    // A failed write is not judged here: the read that follows tells.
    if (bytes)
        m_port->Write(bytes, length);

    if (bytes && length > 3 && (bytes[3] == wire::kAck || bytes[3] == wire::kNak)) {
        m_lastReply = CCommand();
        return m_lastReply;
    }

    // Six bytes first: the shortest frame, and enough to tell the length.
    std::uint8_t header[kShortestFrame] {};
    if (!m_port->Read(header, kShortestFrame)) {
        m_lastReply = CCommand(nullptr, kTimeout);
        return m_lastReply;
    }
    int replyLength = 0;
    FrameVerdict verdict = JudgeFrame(header, replyLength);
    if (verdict == FrameVerdict::BadSync) {
        m_lastReply = CCommand(nullptr, kSynchronizationError);
        return m_lastReply;
    }
    // A length that cannot describe a frame would have us keep the six
    // header bytes in a smaller buffer.
    if (verdict == FrameVerdict::BadLength) {
        m_port->Purge(FlushDirection::Input);
        m_lastReply = CCommand(nullptr, kDataError);
        return m_lastReply;
    }
    std::unique_ptr<std::uint8_t[]> reply(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(replyLength)]);
    if (!reply) {
        m_lastReply = CCommand(nullptr, kDataError);
        return m_lastReply;
    }
    std::copy(header, header + kShortestFrame, reply.get());
    if (replyLength > kShortestFrame && !m_port->Read(reply.get() + kShortestFrame, replyLength - kShortestFrame)) {
        m_port->Purge(FlushDirection::Input);
        m_lastReply = CCommand(nullptr, kDataError);
        return m_lastReply;
    }
    std::span<const std::uint8_t> whole(reply.get(), static_cast<std::size_t>(replyLength));
    if (JudgeFrame(whole, replyLength) != FrameVerdict::Whole) {
        m_lastReply = CCommand(nullptr, kCrcError);
        return m_lastReply;
    }
    m_lastReply = CCommand(reply.get(), 0, replyLength);
    return m_lastReply;
}

void CKRMSProtocol::AppendLines(const char* prefix, const CCommand& frame)
{
    AppendRecordLines(m_exchangeRecord, prefix, frame.GetBytes(), frame.GetBytes() ? frame.GetLength() : 0);
}

void CKRMSProtocol::Pause()
{
    const int interval = m_intercommandInterval.load();
    if (interval <= 0)
        return;
    // Looked at every 50 ms: a usual pause is one sleep, a long one ends
    // soon after a stop.
    constexpr auto kSlice = std::chrono::milliseconds(50);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval);
    for (;;) {
        std::atomic<std::uint8_t>* stop = m_stopFlag.load();
        if (stop != nullptr && stop->load() != 0)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            return;
        std::this_thread::sleep_until(std::min(end, now + kSlice));
    }
}

CCommand CKRMSProtocol::Exchange(const CCommand& command, int address)
{
    // The shared record belongs to the holder of the lock; a caller that
    // does not get it touches nothing and sees an empty record.
    if (!m_lock.TryAcquireFor(kLockWait))
        return CCommand(nullptr, kTimeout);
    m_lockHolder.store(std::this_thread::get_id());
    m_exchangeRecord.clear();

    CCommand reply = Transact(command, address);
    NoteLineFault(reply);
    AppendLines("-> ", m_lastSent);

    if (reply.GetStatus() != 0) {
        m_exchangeRecord.push_back("<- " + ErrorText(reply.GetStatus()));
        if (reply.GetStatus() == kTimeout)
            return reply;
        Transact(ToCommand(BuildNak(0)), address);
        AppendLines("-> ", m_lastSent);
        Pause();
        return reply;
    }

    AppendLines("<- ", reply);
    const std::uint8_t* bytes = reply.GetBytes();
    bool bare = bytes && reply.GetLength() >= 4 && bytes[2] == kShortestFrame;
    if (bare && bytes[3] == wire::kAck)
        return reply;
    if (bare && bytes[3] == wire::kNak) {
        AppendLines("-> ", m_lastSent);
        Pause();
        return reply;
    }
    Transact(ToCommand(BuildAck(0)), address);
    AppendLines("-> ", m_lastSent);
    Pause();
    return reply;
}

void CKRMSProtocol::NoteLineFault(const CCommand& reply)
{
    LineResult fault;
    if (reply.GetStatus() != 0 && IsLineGone(m_port->GetLastFault().fault))
        fault = m_port->GetLastFault();
    {
        std::lock_guard lock(m_stateMutex);
        m_lineFault = fault;
    }
    if (fault.Complete()) {
        if (reply.GetStatus() == 0)
            m_lineGoneLogged = false;
        return;
    }
    if (m_lineGoneLogged)
        return;
    m_lineGoneLogged = true;
    if (COutputInterface* observer = m_observer.load())
        observer->OutputLine(m_port->DescribeLastFault());
}

LineResult CKRMSProtocol::GetLastLineFault() const
{
    std::lock_guard lock(m_stateMutex);
    return m_lineFault;
}

std::string CKRMSProtocol::LineFaultSuffix() const
{
    std::string cause = DescribeLineFault(GetLastLineFault());
    return cause.empty() ? cause : " (" + cause + ")";
}

void CKRMSProtocol::CommandDone(const std::string& name)
{
    if (COutputInterface* observer = m_observer.load())
        observer->OnCommandDone(name);
    ReleaseLock();
}

void CKRMSProtocol::ReleaseLock()
{
    if (HoldsLock()) {
        m_lockHolder.store(std::thread::id());
        m_lock.Release();
    }
}

std::string CKRMSProtocol::ErrorText(int code)
{
    switch (code) {
    case kOk: return "OK";
    case kTimeout: return "Timeout";
    case kSynchronizationError: return "Synchronization error";
    case kDataError: return "Data error";
    case kCrcError: return "CRC error";
    case kAckNotReceived: return "ACK not recieved";
    case kInvalidCommand: return "Invalid command";
    case kExecutionError: return "Execution Error";
    default: {
        char text[32];
        std::snprintf(text, sizeof text, "Error code %X", static_cast<unsigned>(code));
        return text;
    }
    }
}

std::uint16_t CKRMSProtocol::UpdateCheckCode(std::uint8_t byte, std::uint16_t value)
{
    return CheckCodeUpdate(byte, value);
}

std::uint16_t CKRMSProtocol::ComputeCheckCode(const std::uint8_t* frame)
{
    return CheckCodeCompute(frame);
}

bool CKRMSProtocol::ReconnectPort(const std::function<bool()>& stopRequested)
{
    CLineReturnWait wait(m_port->GetOpenIdentity());
    std::string path = wait.Wait(stopRequested, [this](const std::string& candidate) {
        if (!m_lock.TryAcquireFor(kLockWait))
            return false;
        int opened = m_port->Reopen(candidate);
        if (opened != 0)
            m_lineGoneLogged = false;
        m_lock.Release();
        return opened != 0;
    });
    if (path.empty())
        return false;
    if (COutputInterface* observer = m_observer.load())
        observer->OutputLine(path + ": connected again");
    return true;
}

void CKRMSProtocol::LineResetPulse()
{
    m_port->SetRts(1);
    // A remote end that cannot move RTS (ser2net serving a pty, a raw TCP
    // line) is said once; the pulse still takes its time.
    if (m_port->GetLastFault().fault == LineFault::Unconfirmed && !m_rtsUnconfirmedLogged.exchange(true)) {
        if (COutputInterface* observer = m_observer.load())
            observer->OutputLine(m_port->GetPortPath(m_port->GetOpenIndex()) + ": RTS "
                + DescribeLineFault(m_port->GetLastFault()));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    m_port->SetRts(0);
}

bool CKRMSProtocol::CheckAck(const CCommand& reply, int failureCode)
{
    m_lastResultCode.store(reply.GetStatus());
    if (reply.GetStatus() != 0)
        return false;
    const std::uint8_t* bytes = reply.GetBytes();
    std::uint8_t code = bytes && reply.GetLength() > 3 ? bytes[3] : wire::kNak;
    if (code == wire::kAck)
        return true;
    m_lastResultCode.store(code == wire::kInvalidCommand ? kInvalidCommand : failureCode);
    return false;
}

std::array<std::uint32_t, 3> CKRMSProtocol::GetStatusWords() const
{
    std::lock_guard lock(m_stateMutex);
    return m_statusWords;
}

std::string CKRMSProtocol::GetPartNumber() const
{
    std::lock_guard lock(m_stateMutex);
    return m_partNumber;
}

CKRMSProtocol::PollReply CKRMSProtocol::GetLastPoll() const
{
    std::lock_guard lock(m_stateMutex);
    return m_lastPoll;
}

CKRMSProtocol::PollReply CKRMSProtocol::GetLastReaderPoll() const
{
    std::lock_guard lock(m_stateMutex);
    return m_lastReaderPoll;
}

std::array<CassetteRecord, kCassettes> CKRMSProtocol::GetCassetteTable() const
{
    std::lock_guard lock(m_stateMutex);
    return m_cassetteTable;
}

} // namespace orvex
