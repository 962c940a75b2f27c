#pragma once

#include "link/CSerialLine.h"

namespace orvex {

// A serial line on a POSIX tty (or the slave side of a pseudo-terminal).
class CTtyLine final : public CSerialLine {
public:
    CTtyLine() = default;
    ~CTtyLine() override;
    CTtyLine(const CTtyLine&) = delete;
    CTtyLine& operator=(const CTtyLine&) = delete;

    int Open(const std::string& path) override;
    int Configure(const LineMode& mode) override;
    void Close() override;
    bool IsOpen() const override { return m_fd >= 0; }
    bool ReadAll(std::uint8_t* buffer, int count, Deadline deadline, int& received) override;
    bool WriteAll(const std::uint8_t* buffer, int count, Deadline deadline) override;
    void Flush(FlushDirection direction) override;
    void SetRts(bool raised) override;
    int Handle() const override { return m_fd; }

private:
    int m_fd { -1 };
};

} // namespace orvex
