#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace orvex {

// The far end of a pseudo-terminal for the benchmarks: answers every
// command frame at once with one fixed reply (no line time), or stays
// silent. It blocks in poll() between frames, so it costs the host nothing
// while it waits.
class CBenchPeer {
public:
    enum class Answer { Reply, Silent };

    // `reply` is a whole frame, check code included.
    explicit CBenchPeer(std::vector<std::uint8_t> reply, Answer answer = Answer::Reply);
    ~CBenchPeer();
    CBenchPeer(const CBenchPeer&) = delete;
    CBenchPeer& operator=(const CBenchPeer&) = delete;

    // Empty when the pseudo-terminal could not be made; Error() says why.
    const std::string& SlavePath() const { return m_slavePath; }
    const std::string& Error() const { return m_error; }
    void SetAnswer(Answer answer) { m_answer.store(answer); }
    // Command frames seen (the host's ACK and NAK frames not counted).
    std::uint64_t CommandsSeen() const { return m_commands.load(); }

    // A six-byte data reply: 02, address, 06, code, check code.
    static std::vector<std::uint8_t> ShortReply(std::uint8_t address, std::uint8_t code);

private:
    void Run();
    void Serve(const std::uint8_t* frame, int length);

    int m_master { -1 };
    int m_slaveKeeper { -1 }; // keeps the slave open so the master never sees a hang-up
    int m_wake[2] { -1, -1 };  // written once to end the thread
    std::string m_slavePath;
    std::string m_error;
    const std::vector<std::uint8_t> m_reply;
    std::atomic<Answer> m_answer;
    std::atomic<std::uint64_t> m_commands { 0 };
    std::thread m_thread;
};

} // namespace orvex
