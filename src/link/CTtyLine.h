#pragma once

#include "link/CSerialLine.h"

#include <sys/types.h>
#include <termios.h>

namespace orvex {

// A serial line on a POSIX tty (or the slave side of a pseudo-terminal).
// The settings found on open are put back on close.
class CTtyLine final : public CSerialLine {
public:
    CTtyLine() = default;
    ~CTtyLine() override;
    CTtyLine(const CTtyLine&) = delete;
    CTtyLine& operator=(const CTtyLine&) = delete;

    int Open(const std::string& path) override;
    // Serves a terminal descriptor opened elsewhere (the master side of a
    // pseudo-terminal, say), which the line owns from now on. Its settings
    // are taken as they are and not put back on close. 0 or an errno value.
    int Adopt(int descriptor);
    int Configure(const LineMode& mode) override;
    void Close() override;
    bool IsOpen() const override { return m_fd >= 0; }
    LineResult ReadAll(std::uint8_t* buffer, int count, Deadline deadline) override;
    LineResult WriteAll(const std::uint8_t* buffer, int count, Deadline deadline) override;
    void Flush(FlushDirection direction) override;
    LineResult SetRts(RtsLevel level) override;
    int Handle() const override { return m_fd; }

private:
    // The fault after a hang-up or failed call: removed, hung up or I/O.
    LineResult Lost(int error, int transferred) const;

    int m_fd { -1 };
    std::string m_path;
    dev_t m_device { 0 };
    termios m_saved {};
    bool m_savedValid { false };
};

} // namespace orvex
