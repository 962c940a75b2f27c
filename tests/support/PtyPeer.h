#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex::test {

using Bytes = std::vector<std::uint8_t>;

// A frame with the check code filled in: 02, address, length, data, CRC.
// Uses the long form when the frame exceeds 255 bytes.
Bytes MakeFrame(std::uint8_t address, const Bytes& data);

// What the peer does with one frame the host wrote.
struct PeerReply {
    Bytes bytes;                                  // written back, may be empty
    std::chrono::milliseconds delay { 0 };        // before writing
    bool hangUp { false };                        // close the line after writing
};

// The master side of a pseudo-terminal playing a scripted peripheral. The
// engine opens SlavePath() as its port; every frame the host writes is
// recorded and handed to the responder on the peer's own thread.
class PtyPeer {
public:
    using Responder = std::function<PeerReply(const Bytes& frame)>;

    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    void SetResponder(Responder responder);
    // Frames the host wrote, in order (ACK and NAK frames included).
    std::vector<Bytes> Frames() const;
    // Frames the host wrote, without its ACK and NAK frames.
    std::vector<Bytes> Commands() const;
    void ClearFrames();
    // Waits until at least `count` frames were recorded, or the time is up.
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
    void HangUp();

    // A responder that answers every command with the same reply data
    // from `address` and ignores the host's ACK and NAK.
    static Responder Always(std::uint8_t address, Bytes data);

private:
    void Run();
    void Serve(const Bytes& frame);
    void CloseLine();

    std::atomic<int> m_master { -1 };
    std::atomic<int> m_slaveKeeper { -1 }; // keeps the slave alive while the host reopens it
    std::string m_slavePath;
    mutable std::mutex m_mutex; // guards m_responder and m_frames
    Responder m_responder;
    std::vector<Bytes> m_frames;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_hangUpAsked { false };
    std::thread m_thread;
};

} // namespace orvex::test
