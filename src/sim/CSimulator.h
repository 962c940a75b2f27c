#pragma once

#include "link/CLineTap.h"
#include "link/CPtyPair.h"
#include "sim/SimFrameParser.h"
#include "sim/SimTypes.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace orvex {

class CSimDevice;
class CSerialLine;

// The virtual peripheral as one object: serves the ORVEX bus on a pty or
// a serial line from its own thread, answers control command lines, and
// shows its ledger. Tests run it in-process; orvex-sim wraps it.
//
//   CSimulator sim(options);
//   std::string slave = sim.StartPty();   // empty on failure, see LastError()
//   ... the host opens `slave` ...
//   sim.Control("insert 2");              // one line answered
//   SimSnapshot s = sim.Snapshot();
//   sim.Stop();
class CSimulator {
public:
    explicit CSimulator(SimOptions options = {});
    ~CSimulator();
    CSimulator(const CSimulator&) = delete;
    CSimulator& operator=(const CSimulator&) = delete;

    // Creates a pseudo-terminal and serves its master side; returns the
    // slave path. With a link path, also makes a symlink to the slave there,
    // only where no file exists; it is removed again by Stop().
    std::string StartPty(const std::string& linkPath = {});
    // Serves a real serial line at 9600 or 19200 baud. 0 or an errno value.
    int StartPort(const std::string& path, int baud);
    // Listens for control lines on a Unix stream socket (mode 0600), one
    // answer line per command line. 0 or an errno value.
    int StartControl(const std::string& socketPath);
    // Stops every thread, closes the line, removes what Start* created.
    void Stop();

    bool IsRunning() const { return m_running.load(); }
    const std::string& SlavePath() const { return m_slavePath; }
    const std::string& LinkPath() const { return m_pty.LinkPath(); }
    // "<path>: <reason>" of the last failed Start*.
    std::string LastError() const;

    // One control command line ("insert 2", "power-cut", "state", ...);
    // returns the one-line answer ("ok ..." or "error: <word>: <reason>").
    std::string Control(const std::string& commandLine);
    // Set by the "quit" command.
    bool QuitRequested() const { return m_quit.load(); }

    // Told every complete frame taken off the line, with the time it was
    // read, on the line thread; for measurements of the host's cadence.
    // Set before Start*.
    using FrameObserver = std::function<void(const std::uint8_t* frame, std::size_t length, std::chrono::steady_clock::time_point received)>;
    void SetFrameObserver(FrameObserver observer) { m_frameObserver = std::move(observer); }

    // Told every byte read from and written to the line (orvex-sim
    // --capture). Set before Start*.
    void SetTap(CLineTap* tap) { m_tap = tap; }
    // Answers every frame instead of the unit (orvex-sim --replay); an
    // empty answer leaves the host without a reply. Set before Start*.
    using Responder = std::function<SimBytes(const SimBytes& frame)>;
    void SetResponder(Responder responder) { m_responder = std::move(responder); }

    SimSnapshot Snapshot() const;
    // Commands answered so far (one per exchange the host saw answered).
    std::uint64_t ExchangesAnswered() const;

private:
    void ServeLine();
    void ServeControl();
    void WriteReply(const std::uint8_t* bytes, std::size_t count);
    bool StartThreads(std::string& error);
    void CloseAll();

    // Guards m_device (the state machine and ledger) against the line
    // thread, the control threads and callers of Control/Snapshot.
    mutable std::mutex m_mutex;
    std::unique_ptr<CSimDevice> m_device;

    std::atomic<bool> m_running { false };
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_quit { false };
    std::atomic<std::uint64_t> m_noiseBytes { 0 };
    // The line served: the master side of the pty, or a real serial line.
    std::unique_ptr<CSerialLine> m_line;
    CPtyPair m_pty;             // the pty's slave keeper and link, when serving one
    int m_controlFd { -1 };
    int m_wakePipe[2] { -1, -1 };
    bool m_ownsControl { false };
    unsigned long m_controlDevice { 0 }; // identity of the socket file we made
    unsigned long m_controlInode { 0 };
    std::string m_slavePath;
    std::string m_controlPath;
    FrameObserver m_frameObserver; // set before the line thread starts, then only read by it
    CLineTap* m_tap { nullptr };   // the same
    Responder m_responder;         // the same
    std::string m_lastError;    // written before threads start, read after
    std::thread m_lineThread;
    std::thread m_controlThread;
};

} // namespace orvex
