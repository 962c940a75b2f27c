#include "link/CCOMPort.h"

#include "link/LineMode.h"
#include "link/NetworkPortName.h"

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
}

CCOMPort::CCOMPort(CPortTable table)
    : CCOMPort(std::move(table), MakeSerialLine)
{
}

CCOMPort::CCOMPort(CPortTable table, LineMaker maker)
    : m_table(std::move(table))
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
    const std::string& path = m_table.Path(portIndex);
    m_line = m_maker(path);
    int error = m_line->Open(path);
    m_portError[static_cast<std::size_t>(portIndex)] = error;
    return error;
}

void CCOMPort::Probe()
{
    for (int i = 0; i < CPortTable::kSlots; ++i) {
        // A network line is not connected only to be looked at: a server
        // with one client at a time would see a stranger come and go.
        if (IsNetworkPortName(m_table.Path(i))) {
            int error = ParseNetworkPortName(m_table.Path(i)) ? 0 : EINVAL;
            m_probeError[static_cast<std::size_t>(i)] = error;
            m_portError[static_cast<std::size_t>(i)] = error;
            continue;
        }
        int error = OpenSlot(i);
        m_probeError[static_cast<std::size_t>(i)] = error;
        if (error == 0)
            m_line->Close();
    }
    m_line.reset();
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
    m_identity = DescribePort(m_table.Path(portIndex));
    auto lineMode = ParseLineMode(mode ? mode : "");
    if (!lineMode)
        return 0;
    int error = m_line->Configure(*lineMode);
    if (error != 0) {
        m_portError[static_cast<std::size_t>(portIndex)] = error;
        return 0;
    }
    m_readTimeoutConstant = readTimeoutConstant < 0 ? 0 : readTimeoutConstant;
    if (m_tap)
        m_tap->OnLineEvent(WallClockNanoseconds(), std::string("opened at ") + (mode ? mode : ""));
    return 1;
}

int CCOMPort::Read(std::uint8_t* buffer, int count)
{
    m_lastReadCount = 0;
    if (!m_line || count < 0)
        return 0;
    LineResult result = m_line->ReadAll(buffer, count, DeadlineFor(count, m_readTimeoutConstant));
    m_lastReadCount = result.transferred;
    m_lastFault = result;
    if (m_tap) {
        const std::int64_t now = WallClockNanoseconds();
        if (m_lastReadCount > 0)
            m_tap->OnBytes(TapDirection::Read, now, { buffer, static_cast<std::size_t>(m_lastReadCount) });
        if (result.fault == LineFault::Timeout)
            m_tap->OnLineEvent(now, "read time-out after " + std::to_string(m_lastReadCount) + " of " + std::to_string(count) + " bytes");
        else if (!result.Complete())
            m_tap->OnLineEvent(now, DescribeLineFault(result));
    }
    return result.Complete() ? 1 : 0;
}

int CCOMPort::Write(const std::uint8_t* buffer, int count)
{
    if (!m_line || count < 0)
        return 0;
    // The time is taken as the first byte leaves, before the write returns.
    const std::int64_t now = m_tap ? WallClockNanoseconds() : 0;
    m_lastFault = m_line->WriteAll(buffer, count, DeadlineFor(count, kWriteTimeoutConstant));
    if (m_tap) {
        if (m_lastFault.transferred > 0)
            m_tap->OnBytes(TapDirection::Written, now, { buffer, static_cast<std::size_t>(m_lastFault.transferred) });
        if (!m_lastFault.Complete())
            m_tap->OnLineEvent(WallClockNanoseconds(), "write: " + DescribeLineFault(m_lastFault));
    }
    return m_lastFault.Complete() ? 1 : 0;
}

void CCOMPort::SetRts(int flag)
{
    if (m_line)
        m_lastFault = m_line->SetRts(flag != 0 ? RtsLevel::High : RtsLevel::Low);
    if (m_tap && m_line)
        m_tap->OnLineEvent(WallClockNanoseconds(), flag != 0 ? "RTS raised (bus reset)" : "RTS lowered");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void CCOMPort::Purge(FlushDirection direction)
{
    if (m_line)
        m_line->Flush(direction);
}

void CCOMPort::Close()
{
    if (m_tap && m_line && m_line->IsOpen())
        m_tap->OnLineEvent(WallClockNanoseconds(), "closed");
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

int CCOMPort::GetPortError(int portIndex) const
{
    if (!CPortTable::IsValidIndex(portIndex))
        return ENOENT;
    return m_portError[static_cast<std::size_t>(portIndex)];
}

std::string CCOMPort::DescribePortError(int portIndex) const
{
    const std::string& path = m_table.Path(portIndex);
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
    m_table.SetPath(m_lastIndex, path);
    int opened = Open(m_lastIndex, mode.c_str(), m_readTimeoutConstant);
    // The identity is the adapter's, not its node's: keep the by-id name
    // and serial even when the node is new.
    if (opened != 0) {
        m_identity.byId = identity.byId.empty() ? m_identity.byId : identity.byId;
        m_identity.serial = identity.serial.empty() ? m_identity.serial : identity.serial;
    }
    return opened;
}

std::string CCOMPort::DescribeLastFault() const
{
    if (m_lastFault.Complete())
        return "";
    const std::string& path = m_table.Path(m_openIndex);
    return (path.empty() ? CPortTable::Name(m_openIndex) : path) + ": " + DescribeLineFault(m_lastFault);
}

} // namespace orvex
