#pragma once

#include "link/CSerialLine.h"
#include "link/NetworkPortName.h"

#include <cstddef>
#include <vector>

namespace orvex {

// A serial line carried over TCP: bytes as they are (a ser2net "raw"
// port). Reads and writes keep the tty's deadlines, all-or-nothing, however
// the bytes are split into segments. The RFC 2217 line builds on it.
class CTcpLine : public CSerialLine {
public:
    // How long connecting may take before the open fails.
    static constexpr std::chrono::milliseconds kConnectTimeout { 3000 };

    CTcpLine() = default;
    ~CTcpLine() override;
    CTcpLine(const CTcpLine&) = delete;
    CTcpLine& operator=(const CTcpLine&) = delete;

    int Open(const std::string& path) override;
    // A raw line carries no settings: the server's own apply.
    int Configure(const LineMode& mode) override;
    void Close() override;
    bool IsOpen() const override { return m_socket >= 0; }
    LineResult ReadAll(std::uint8_t* buffer, int count, Deadline deadline) override;
    LineResult WriteAll(const std::uint8_t* buffer, int count, Deadline deadline) override;
    void Flush(FlushDirection direction) override;
    // A raw line cannot carry RTS: always Unconfirmed (ENOTSUP).
    LineResult SetRts(RtsLevel level) override;
    int Handle() const override { return m_socket; }

protected:
    // What arrives from the socket, in order; the raw line keeps it all as data.
    virtual void Take(const std::uint8_t* bytes, std::size_t count);
    // After connecting: the raw line looks for a server that turns us away.
    virtual int AfterConnect(Deadline deadline);

    // Sends bytes as they are, all of them before the deadline.
    LineResult Send(const std::uint8_t* bytes, std::size_t count, Deadline deadline);
    // Waits for bytes until the deadline and hands what came to Take.
    // None when something came, else the fault (time-out, lost, refused).
    LineResult Receive(Deadline deadline);
    // Data waiting to be read.
    std::vector<std::uint8_t>& Received() { return m_received; }
    // Hands whatever the socket holds now to Take, without waiting.
    void Drain();
    const NetworkPortName& Name() const { return m_name; }

private:
    // The fault after the server closed or reset the connection: refused
    // as busy when it said so first.
    LineResult Lost(int error);

    int m_socket { -1 };
    NetworkPortName m_name;
    std::vector<std::uint8_t> m_received;
    std::size_t m_readOffset { 0 };
    // Once the connection is gone, every later call says so at once.
    LineResult m_gone;
};

} // namespace orvex
