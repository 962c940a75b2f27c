#pragma once

#include "link/CLineTap.h"
#include "link/CPortTable.h"
#include "link/CSerialLine.h"
#include "link/PortDescription.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvex {

// The one object through which the system touches the serial line: opens
// a port slot with a line mode and read time-out, reads and writes whole
// blocks all-or-nothing, purges the queues and moves RTS.
class CCOMPort {
public:
    // Builds the port table from the environment and probes every slot.
    CCOMPort();
    explicit CCOMPort(CPortTable table);
    // Makes the line for a slot's path; MakeSerialLine unless a test or
    // fuzz target puts a line of its own (a memory line) under the port.
    using LineMaker = std::function<std::unique_ptr<CSerialLine>(const std::string& path)>;
    CCOMPort(CPortTable table, LineMaker maker);
    virtual ~CCOMPort();
    CCOMPort(const CCOMPort&) = delete;
    CCOMPort& operator=(const CCOMPort&) = delete;

    // Non-zero on success. Refuses an index outside 0..15, or one whose
    // probe failed, without touching the open port.
    virtual int Open(int portIndex, const char* mode, int readTimeoutConstant);
    // Non-zero only when exactly `count` bytes were read within
    // 11 ms per byte plus the read time-out constant.
    virtual int Read(std::uint8_t* buffer, int count);
    // Non-zero only when all bytes went out within 11 ms per byte plus 200 ms.
    virtual int Write(const std::uint8_t* buffer, int count);

    void SetRts(int flag);
    void Purge(FlushDirection direction);
    void Close();
    bool IsOpen() const;
    int GetHandle() const;
    // errno of the last attempt to open the slot; 0 = it opened.
    int GetPortError(int portIndex) const;
    // "<path>: <reason>", for messages; names the slot when it has no path.
    std::string DescribePortError(int portIndex) const;
    // A copy: the engine's reconnect may rename the open slot's path while
    // another thread looks at the table.
    CPortTable GetPortTable() const;
    std::string GetPortPath(int portIndex) const;
    int GetOpenIndex() const { return m_openIndex; }
    // Bytes that arrived during the last Read, complete or not.
    int GetLastReadCount() const { return m_lastReadCount; }
    // Why the last Read, Write or SetRts fell short; LineFault::None when
    // it did not (or when nothing has been tried since the open).
    const LineResult& GetLastFault() const { return m_lastFault; }
    // "<path>: <cause>" for the last fault, e.g. "/dev/ttyUSB0: device
    // disconnected"; empty when there is none.
    std::string DescribeLastFault() const;
    // Told about every byte read or written and about opening, closing and
    // RTS; null for none. May be set from another thread at any time (best
    // between exchanges, so that no exchange is cut in two): once SetTap
    // returns, the tap it replaced is no longer called.
    void SetTap(CLineTap* tap);
    // The adapter the open port was opened on (path, by-id name, USB ids
    // and serial number), to find it again after it went away.
    const PortDescription& GetOpenIdentity() const { return m_identity; }
    // Opens the last opened slot again, now at `path` (the same adapter
    // under a new name), with the same line mode and time-out. Non-zero
    // on success.
    int Reopen(const std::string& path);

    // Puts a port name the operator entered (a network line) into the
    // table: the slot that already holds it, else the first empty slot
    // from COM5 up, probed as at start-up. The slot, or -1 when every slot
    // from COM5 up is taken. It stays through a rescan.
    int AddPath(const std::string& path);
    // Builds the table again from where it came from (the environment, or
    // the list given) and probes every slot again, for adapters plugged in
    // or pulled since. The open port keeps its slot and its line.
    void Rescan();

private:
    int OpenSlot(int portIndex);
    // Opens and closes a slot's device on a line of its own (a network
    // name is only parsed), leaving the open line alone.
    int ProbeSlot(int portIndex);
    void Probe();

    mutable std::mutex m_tableMutex; // guards m_table
    CPortTable m_table;
    // Where a rescan takes the table from: the environment again, or the
    // table given at construction.
    bool m_fromEnvironment { false };
    CPortTable m_givenTable;
    std::vector<std::string> m_addedPaths;
    LineMaker m_maker;
    std::unique_ptr<CSerialLine> m_line;
    std::array<int, CPortTable::kSlots> m_probeError {};
    std::array<int, CPortTable::kSlots> m_portError {};
    int m_openIndex { -1 };
    int m_readTimeoutConstant { 0 };
    int m_lastReadCount { 0 };
    LineResult m_lastFault;
    // Runs `tell` on the tap, if there is one, holding m_tapMutex.
    template <typename Tell>
    void TellTap(const Tell& tell);
    std::mutex m_tapMutex; // held while the tap is set or called
    std::atomic<CLineTap*> m_tap { nullptr }; // read without the mutex only to skip the clock
    PortDescription m_identity;
    std::string m_mode;
    int m_lastIndex { -1 };
};

} // namespace orvex
