#pragma once

#include <string>

namespace orvex {

// A pseudo-terminal pair for whoever plays the far end of a line: the
// virtual peripheral, the test peers and the benchmarks. The master is
// non-blocking; the slave is held open in raw mode, set before anyone else
// opens it (or the line discipline would echo the peer's replies back to
// it), and keeps the master readable, without EIO, while the host closes
// and reopens its port.
class CPtyPair {
public:
    CPtyPair() = default;
    ~CPtyPair();
    CPtyPair(const CPtyPair&) = delete;
    CPtyPair& operator=(const CPtyPair&) = delete;

    // 0 or an errno value; Error() then says "<what>: <reason>".
    int Open();
    // A symbolic link to the slave at `path`, made only where nothing is:
    // it is never ours to replace. Close() removes it while it still
    // points at our slave. 0 or an errno value, with Error().
    int Link(const std::string& path);
    // Closes both sides and removes the link.
    void Close();

    int Master() const { return m_master; }
    int Slave() const { return m_slave; }
    const std::string& SlavePath() const { return m_slavePath; }
    const std::string& LinkPath() const { return m_linkPath; }
    const std::string& Error() const { return m_error; }
    // The descriptor passes to the caller, who closes it.
    int ReleaseMaster();
    int ReleaseSlave();

private:
    int Fail(const std::string& what, int error);

    int m_master { -1 };
    int m_slave { -1 };
    std::string m_slavePath;
    std::string m_linkPath;
    std::string m_error;
};

} // namespace orvex
