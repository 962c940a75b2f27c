#include "link/CCOMPort.h"

#include "link/LineMode.h"
#include "link/NetworkPortName.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace orvex {

namespace {

constexpr int kMillisecondsPerByte = 11;
constexpr int kWriteTimeoutConstant = 200;

CSerialLine::Deadline DeadlineFor(int count, int constant)
{
    return std::chrono::steady_clock::now()
        + std::chrono::milliseconds(static_cast<long long>(kMillisecondsPerByte) * count + constant);
}

} // namespace

CCOMPort::CCOMPort()
    : CCOMPort(CPortTable::FromEnvironment())
{
    m_fromEnvironment = true;
}

CCOMPort::CCOMPort(CPortTable table)
    : CCOMPort(std::move(table), MakeSerialLine)
{
}

CCOMPort::CCOMPort(CPortTable table, LineMaker maker)
    : m_table(std::move(table))
    , m_givenTable(m_table)
    , m_maker(std::move(maker))
{
    Probe();
}

CCOMPort::~CCOMPort()
{
    Close();
}

int CCOMPort::OpenSlot(int portIndex)
{
    const std::string path = GetPortPath(portIndex);
    m_line = m_maker(path);
    int error = m_line->Open(path);
    m_portError[static_cast<std::size_t>(portIndex)] = error;
    return error;
}

int CCOMPort::ProbeSlot(int portIndex)
{
    const std::string path = GetPortPath(portIndex);
    int error = 0;
    // A network line is not connected only to be looked at: a server
    // with one client at a time would see a stranger come and go.
    if (IsNetworkPortName(path)) {
        error = ParseNetworkPortName(path) ? 0 : EINVAL;
    } else {
        std::unique_ptr<CSerialLine> line = m_maker(path);
        error = line->Open(path);
        if (error == 0)
            line->Close();
    }
    m_probeError[static_cast<std::size_t>(portIndex)] = error;
    m_portError[static_cast<std::size_t>(portIndex)] = error;
    return error;
}

void CCOMPort::Probe()
{
    for (int i = 0; i < CPortTable::kSlots; ++i)
        ProbeSlot(i);
}

int CCOMPort::Open(int portIndex, const char* mode, int readTimeoutConstant)
{
    if (!CPortTable::IsValidIndex(portIndex) || m_probeError[static_cast<std::size_t>(portIndex)] != 0)
        return 0;
    Close();
    if (OpenSlot(portIndex) != 0) {
        m_line.reset();
        return 0;
    }
    m_openIndex = portIndex;
    m_lastIndex = portIndex;
    m_lastFault = {};
    m_mode = mode ? mode : "";
    m_identity = DescribePort(GetPortPath(portIndex));
    auto lineMode = ParseLineMode(mode ? mode : "");
    if (!lineMode)
        return 0;
    int error = m_line->Configure(*lineMode);
    if (error != 0) {
        m_portError[static_cast<std::size_t>(portIndex)] = error;
        return 0;
    }
    m_readTimeoutConstant = readTimeoutConstant < 0 ? 0 : readTimeoutConstant;
    TellTap([mode](CLineTap& tap) { tap.OnLineEvent(WallClockNanoseconds(), std::string("opened at ") + (mode ? mode : "")); });
    return 1;
}

void CCOMPort::SetTap(CLineTap* tap)
{
    std::lock_guard lock(m_tapMutex);
    m_tap.store(tap);
}

template <typename Tell>
void CCOMPort::TellTap(const Tell& tell)
{
    if (m_tap.load(std::memory_order_relaxed) == nullptr)
        return;
    std::lock_guard lock(m_tapMutex);
    if (CLineTap* tap = m_tap.load())
        tell(*tap);
}

int CCOMPort::Read(std::uint8_t* buffer, int count)
{
    m_lastReadCount = 0;
    if (!m_line || count < 0)
        return 0;
    LineResult result = m_line->ReadAll(buffer, count, DeadlineFor(count, m_readTimeoutConstant));
    m_lastReadCount = result.transferred;
    m_lastFault = result;
    TellTap([&](CLineTap& tap) {
        const std::int64_t now = WallClockNanoseconds();
        if (m_lastReadCount > 0)
            tap.OnBytes(TapDirection::Read, now, { buffer, static_cast<std::size_t>(m_lastReadCount) });
        if (result.fault == LineFault::Timeout)
            tap.OnLineEvent(now, "read time-out after " + std::to_string(m_lastReadCount) + " of " + std::to_string(count) + " bytes");
        else if (!result.Complete())
            tap.OnLineEvent(now, DescribeLineFault(result));
    });
    return result.Complete() ? 1 : 0;
}

int CCOMPort::Write(const std::uint8_t* buffer, int count)
{
    if (!m_line || count < 0)
        return 0;
    // The time is taken as the first byte leaves, before the write returns.
    const std::int64_t now = m_tap.load(std::memory_order_relaxed) ? WallClockNanoseconds() : 0;
    m_lastFault = m_line->WriteAll(buffer, count, DeadlineFor(count, kWriteTimeoutConstant));
    TellTap([&](CLineTap& tap) {
        if (m_lastFault.transferred > 0)
            tap.OnBytes(TapDirection::Written, now != 0 ? now : WallClockNanoseconds(),
                { buffer, static_cast<std::size_t>(m_lastFault.transferred) });
        if (!m_lastFault.Complete())
            tap.OnLineEvent(WallClockNanoseconds(), "write: " + DescribeLineFault(m_lastFault));
    });
    return m_lastFault.Complete() ? 1 : 0;
}

void CCOMPort::SetRts(int flag)
{
    if (m_line)
        m_lastFault = m_line->SetRts(flag != 0 ? RtsLevel::High : RtsLevel::Low);
    if (m_line)
        TellTap([flag](CLineTap& tap) { tap.OnLineEvent(WallClockNanoseconds(), flag != 0 ? "RTS raised (bus reset)" : "RTS lowered"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void CCOMPort::Purge(FlushDirection direction)
{
    if (m_line)
        m_line->Flush(direction);
}

void CCOMPort::Close()
{
    if (m_line && m_line->IsOpen())
        TellTap([](CLineTap& tap) { tap.OnLineEvent(WallClockNanoseconds(), "closed"); });
    if (m_line)
        m_line->Close();
    m_line.reset();
    m_openIndex = -1;
    m_lastFault = {};
}

bool CCOMPort::IsOpen() const
{
    return m_line && m_line->IsOpen();
}

int CCOMPort::GetHandle() const
{
    return m_line ? m_line->Handle() : -1;
}

CPortTable CCOMPort::GetPortTable() const
{
    std::lock_guard lock(m_tableMutex);
    return m_table;
}

std::string CCOMPort::GetPortPath(int portIndex) const
{
    std::lock_guard lock(m_tableMutex);
    return m_table.Path(portIndex);
}

int CCOMPort::GetPortError(int portIndex) const
{
    if (!CPortTable::IsValidIndex(portIndex))
        return ENOENT;
    return m_portError[static_cast<std::size_t>(portIndex)];
}

std::string CCOMPort::DescribePortError(int portIndex) const
{
    const std::string path = GetPortPath(portIndex);
    std::string where = path.empty() ? CPortTable::Name(portIndex) + " (no device path)" : path;
    int error = GetPortError(portIndex);
    if (error == 0)
        return where + ": could be opened";
    if (IsNetworkPortName(path))
        return DescribeNetworkError(path, error);
    std::string text = where + ": " + std::strerror(error);
    if (error == EACCES)
        text += " (the user may need to be in the dialout group)";
    if (error == ENOTTY)
        text += " (not a serial device)";
    return text;
}

} // namespace orvex

namespace orvex {

int CCOMPort::Reopen(const std::string& path)
{
    if (!CPortTable::IsValidIndex(m_lastIndex))
        return 0;
    const PortDescription identity = m_identity;
    const std::string mode = m_mode;
    {
        std::lock_guard lock(m_tableMutex);
        m_table.SetPath(m_lastIndex, path);
    }
    int opened = Open(m_lastIndex, mode.c_str(), m_readTimeoutConstant);
    // The identity is the adapter's, not its node's: keep the by-id name
    // and serial even when the node is new.
    if (opened != 0) {
        m_identity.byId = identity.byId.empty() ? m_identity.byId : identity.byId;
        m_identity.serial = identity.serial.empty() ? m_identity.serial : identity.serial;
    }
    return opened;
}

namespace {

// The first empty slot from `first` up; -1 when there is none.
int FreeSlot(const CPortTable& table, int first)
{
    for (int index = first; index < CPortTable::kSlots; ++index) {
        if (table.Path(index).empty())
            return index;
    }
    return -1;
}

int SlotOf(const CPortTable& table, const std::string& path)
{
    for (int index = 0; index < CPortTable::kSlots; ++index) {
        if (table.Path(index) == path)
            return index;
    }
    return -1;
}

// Slots the Port menu lists by themselves; entered names go after them.
constexpr int kListedSlots = 4;

} // namespace

int CCOMPort::AddPath(const std::string& path)
{
    int index = -1;
    {
        std::lock_guard lock(m_tableMutex);
        index = SlotOf(m_table, path);
        if (index < 0)
            index = FreeSlot(m_table, kListedSlots);
        if (index < 0)
            return -1;
        // The open slot keeps its line; only its errors are left as they are.
        if (index != m_openIndex)
            m_table.SetPath(index, path);
    }
    if (std::find(m_addedPaths.begin(), m_addedPaths.end(), path) == m_addedPaths.end())
        m_addedPaths.push_back(path);
    if (index != m_openIndex)
        ProbeSlot(index);
    return index;
}

void CCOMPort::Rescan()
{
    CPortTable fresh = m_fromEnvironment ? CPortTable::FromEnvironment() : m_givenTable;
    const CPortTable table = GetPortTable();
    std::vector<std::string> displaced;
    if (CPortTable::IsValidIndex(m_openIndex)) {
        // The open line stays where it is: a device the new table puts in
        // its slot moves up, and the open path is not listed twice.
        const std::string open = table.Path(m_openIndex);
        const int elsewhere = SlotOf(fresh, open);
        if (elsewhere >= 0 && elsewhere != m_openIndex)
            fresh.SetPath(elsewhere, std::string());
        if (fresh.Path(m_openIndex) != open) {
            if (!fresh.Path(m_openIndex).empty())
                displaced.push_back(fresh.Path(m_openIndex));
            fresh.SetPath(m_openIndex, open);
        }
    }
    // The names entered keep their slots where they can, so the Port menu
    // does not rename them; what was displaced takes the next free ones.
    for (const std::string& path : m_addedPaths) {
        const int before = SlotOf(table, path);
        if (SlotOf(fresh, path) < 0 && before >= kListedSlots && fresh.Path(before).empty())
            fresh.SetPath(before, path);
    }
    displaced.insert(displaced.end(), m_addedPaths.begin(), m_addedPaths.end());
    for (const std::string& path : displaced) {
        const int free = FreeSlot(fresh, kListedSlots);
        if (SlotOf(fresh, path) < 0 && free >= 0)
            fresh.SetPath(free, path);
    }
    {
        std::lock_guard lock(m_tableMutex);
        m_table = std::move(fresh);
    }
    for (int index = 0; index < CPortTable::kSlots; ++index) {
        if (index != m_openIndex)
            ProbeSlot(index);
    }
}

std::string CCOMPort::DescribeLastFault() const
{
    if (m_lastFault.Complete())
        return "";
    const std::string path = GetPortPath(m_openIndex);
    return (path.empty() ? CPortTable::Name(m_openIndex) : path) + ": " + DescribeLineFault(m_lastFault);
}

} // namespace orvex
