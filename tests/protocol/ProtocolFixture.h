#pragma once

#include "protocol/CKRMSProtocol.h"
#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace orvex::test {

using namespace std::chrono_literals;

// Keeps what the engine shows its observer: the log name and the record
// of every exchange, read inside OnCommandDone while the lock is held.
class CRecordingObserver : public COutputInterface {
public:
    explicit CRecordingObserver(CKRMSProtocol& protocol)
        : m_protocol(protocol)
    {
    }

    void OnCommandDone(std::string name) override
    {
        std::lock_guard lock(m_mutex);
        m_names.push_back(name);
        m_records.push_back(m_protocol.GetExchangeRecord());
    }

    std::vector<std::string> Names() const
    {
        std::lock_guard lock(m_mutex);
        return m_names;
    }

    std::vector<std::vector<std::string>> Records() const
    {
        std::lock_guard lock(m_mutex);
        return m_records;
    }

    std::vector<std::string> LastRecord() const
    {
        std::lock_guard lock(m_mutex);
        return m_records.empty() ? std::vector<std::string> {} : m_records.back();
    }

private:
    CKRMSProtocol& m_protocol;
    mutable std::mutex m_mutex; // guards the names and records
    std::vector<std::string> m_names;
    std::vector<std::vector<std::string>> m_records;
};

// The engine on a pty peer: fast time-outs and no intercommand pause.
class ProtocolTest : public ::testing::Test {
protected:
    static constexpr int kResponseTimeout = 100;

    void SetUp() override
    {
        protocol.SetIntercommandInterval(0);
        protocol.SetObserver(&observer);
        ASSERT_NE(protocol.OpenPort(0, kResponseTimeout), 0) << peer.SlavePath();
    }

    // Every command is answered with `data` from `address`.
    void Answer(std::uint8_t address, Bytes data) { peer.SetResponder(PtyPeer::Always(address, std::move(data))); }

    // Every command is answered with these raw bytes, as they are.
    void AnswerRaw(Bytes bytes)
    {
        peer.SetResponder([bytes](const Bytes& frame) {
            if (frame.size() == 6 && (frame[3] == 0x00 || frame[3] == 0xFF))
                return PeerReply {};
            return PeerReply { bytes };
        });
    }

    // The commands the host wrote (its ACK and NAK frames left out).
    std::vector<Bytes> Sent() const { return peer.Commands(); }

    // The single command the host wrote, finished with address and check code.
    Bytes OnlyCommand() const
    {
        auto commands = peer.Commands();
        return commands.size() == 1 ? commands[0] : Bytes {};
    }

    PtyPeer peer;
    CKRMSProtocol protocol { CPortTable({ peer.SlavePath() }) };
    CRecordingObserver observer { protocol };
};

// A host command frame as it goes out: 02, address, L, code, parameters, check code.
inline Bytes Command(std::uint8_t address, Bytes codeAndParameters)
{
    return MakeFrame(address, codeAndParameters);
}


} // namespace orvex::test
