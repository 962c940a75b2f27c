#pragma once

#include "link/CSerialLine.h"

#include <cstdint>
#include <memory>
#include <string>

namespace orvex {

// A port the monitor or the relay holds: opened in a line mode and then
// read as bytes come (and, for the relay, written), without the
// all-or-nothing reads of the protocol engine.
class CBusPort {
public:
    explicit CBusPort(std::string path);

    // False with `error` naming the port and the reason.
    bool Open(const std::string& modeText, std::string& error);
    void Close();
    int Handle() const { return m_line ? m_line->Handle() : -1; }
    const std::string& Path() const { return m_path; }

    // Reads what has arrived (at most `capacity` bytes): the count, 0 when
    // nothing is there, -1 when the port is gone (see LossText). Safe to
    // call whether or not poll() said the port was readable.
    int ReadAvailable(std::uint8_t* buffer, int capacity);
    // Writes all bytes, waiting for room as long as `timeoutMs`. False when
    // the port is gone or stays full.
    bool WriteAll(const std::uint8_t* bytes, int count, int timeoutMs);
    // "/dev/ttyUSB0: device disconnected", or the reason of the failure.
    const std::string& LossText() const { return m_loss; }

private:
    void Lost(int error);
    // After a read of nothing: whether the line hung up (or was removed)
    // rather than being empty.
    bool HungUp() const;

    std::string m_path;
    std::unique_ptr<CSerialLine> m_line;
    std::string m_loss;
};

} // namespace orvex
