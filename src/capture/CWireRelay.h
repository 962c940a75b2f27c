#pragma once

#include "capture/CBusPort.h"
#include "capture/CExchangeAssembler.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex {

// Sits between a controller and a unit on two ports: a thread of its own
// forwards every byte both ways as soon as it is read, and only then
// hands a copy to the caller's thread, which assembles and decodes. The
// forwarding never waits for the decoding.
class CWireRelay {
public:
    CWireRelay(std::string controllerPath, std::string devicePath, CExchangeAssembler& assembler);
    ~CWireRelay();
    CWireRelay(const CWireRelay&) = delete;
    CWireRelay& operator=(const CWireRelay&) = delete;

    bool Open(const std::string& modeText, std::string& error);
    // Relays until `stop` is set, the deadline passes or a port is lost;
    // then hands on what is still queued.
    WireEnd Run(const std::atomic<int>& stop, std::chrono::steady_clock::time_point deadline);
    const std::string& LossText() const { return m_loss; }

    // For the benchmark: the time (ns) each chunk spent inside, from the
    // return of its read to the return of its write, per direction.
    void KeepLatencies() { m_keepLatencies = true; }
    std::vector<std::int64_t> Latencies(WireDirection direction) const;

private:
    struct Chunk {
        int port;
        std::int64_t timeNs;
        std::vector<std::uint8_t> bytes;
    };

    void Forward();

    CBusPort m_controller;
    CBusPort m_device;
    CExchangeAssembler& m_assembler;
    std::thread m_forwarder;
    std::atomic<bool> m_stopForwarding { false };
    // When the forwarder last found its lines drained: the decoding side
    // measures silences up to there, so a forwarder that is late to run
    // does not make a silence out of its own lateness.
    std::atomic<std::int64_t> m_lookedNs { 0 };
    bool m_keepLatencies { false };

    // Guards m_queue, m_lost, m_loss and the latencies, shared by the
    // forwarding thread and the caller's.
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::vector<Chunk> m_queue;
    bool m_lost { false };
    int m_lostPort { 0 };
    std::string m_loss;
    std::vector<std::int64_t> m_latencies[2];
};

} // namespace orvex
