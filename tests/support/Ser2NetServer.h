#pragma once

#include <string>
#include <sys/types.h>

namespace orvex::test {

// Debian's ser2net serving one serial device on loopback, started in the
// foreground by the test (or benchmark) and stopped by its process id: a
// raw TCP port and an RFC 2217 port, each one client at a time.
class Ser2NetServer {
public:
    Ser2NetServer();
    ~Ser2NetServer();
    Ser2NetServer(const Ser2NetServer&) = delete;
    Ser2NetServer& operator=(const Ser2NetServer&) = delete;

    static bool Available();
    // Starts serving `device` (9600,n,8,1 until a client says otherwise)
    // and waits for "Ready"; false with Error() set when it did not come.
    bool Start(const std::string& device);
    // Starts again on the same ports after Kill or Stop.
    bool Restart() { return Start(m_device); }
    // SIGKILL: the connections drop as if the machine's controller died.
    void Kill();
    void Stop();
    bool IsRunning() const { return m_pid > 0; }

    std::string RawName() const { return "tcp://127.0.0.1:" + std::to_string(m_rawPort); }
    int RawPort() const { return m_rawPort; }
    std::string Rfc2217Name() const { return "rfc2217://127.0.0.1:" + std::to_string(m_rfc2217Port); }
    const std::string& Error() const { return m_error; }

private:
    void End(int signal);

    std::string m_folder;
    std::string m_device;
    int m_rawPort { 0 };
    int m_rfc2217Port { 0 };
    pid_t m_pid { -1 };
    std::string m_error;
};

} // namespace orvex::test
