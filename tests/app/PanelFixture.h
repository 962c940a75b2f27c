#pragma once

#include "app/CApplication.h"
#include "app/COperatorPanel.h"
#include "app/CPanelObserver.h"
#include "decode/CExchangeLog.h"
#include "decode/CLogSink.h"
#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace orvex::test {

// The log list in memory.
class MemorySink : public CLogSink {
public:
    void AddLine(std::string_view line) override
    {
        std::lock_guard lock(m_mutex);
        m_lines.emplace_back(line);
    }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }
    std::vector<std::string> Lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

private:
    mutable std::mutex m_mutex; // guards m_lines
    std::vector<std::string> m_lines;
};

class RecordingObserver : public CPanelObserver {
public:
    void OnMessage(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(text);
    }
    void OnResultLine(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        m_results.push_back(text);
    }
    void OnCommandButtonsEnabled(bool enabled) override
    {
        std::lock_guard lock(m_mutex);
        m_buttons.push_back(enabled);
    }
    std::vector<std::string> Messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    std::vector<std::string> Results() const
    {
        std::lock_guard lock(m_mutex);
        return m_results;
    }
    std::vector<bool> Buttons() const
    {
        std::lock_guard lock(m_mutex);
        return m_buttons;
    }

private:
    mutable std::mutex m_mutex; // guards the three lists
    std::vector<std::string> m_messages;
    std::vector<std::string> m_results;
    std::vector<bool> m_buttons;
};

// The application on a scripted peer at COM1, with the panel attached.
class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_application.Device().SetIntercommandInterval(0);
        ASSERT_NE(m_application.Device().OpenPort(0, 100), 0);
        m_application.Protocol().SetObserver(&m_log);
        m_panel.SetObserver(&m_observer);
        // Every command is acknowledged unless a test says otherwise.
        m_peer.SetResponder([](const Bytes& frame) {
            PeerReply reply;
            if (frame.size() >= 4 && frame[3] != 0x00 && frame[3] != 0xFF)
                reply.bytes = MakeFrame(frame[1], { 0x00 });
            return reply;
        });
    }
    void TearDown() override { m_application.Protocol().SetObserver(nullptr); }

    // Answers every command of `code` with `data`, and acknowledges the rest.
    void Answer(std::uint8_t code, Bytes data)
    {
        m_peer.SetResponder([code, data](const Bytes& frame) {
            PeerReply reply;
            if (frame.size() < 4 || frame[3] == 0x00 || frame[3] == 0xFF)
                return reply;
            reply.bytes = MakeFrame(frame[1], frame[3] == code ? data : Bytes { 0x00 });
            return reply;
        });
    }
    void Silence()
    {
        m_peer.SetResponder([](const Bytes&) { return PeerReply {}; });
    }
    void Set(void (*change)(PanelMembers&))
    {
        PanelMembers members = m_panel.GetMembers();
        change(members);
        m_panel.SetMembers(members);
    }
    // The commands sent, without the check code: 02, address, length, data.
    std::vector<Bytes> Sent() const
    {
        std::vector<Bytes> result;
        for (Bytes frame : m_peer.Commands()) {
            if (frame.size() >= 2)
                frame.resize(frame.size() - 2);
            result.push_back(frame);
        }
        return result;
    }

    PtyPeer m_peer;
    CApplication m_application { CPortTable(std::vector<std::string> { m_peer.SlavePath() }) };
    MemorySink m_sink;
    CExchangeLog m_log { &m_application.Protocol(), m_sink };
    COperatorPanel m_panel { m_application.Device(), m_application.Engine(), &m_log, &m_sink };
    RecordingObserver m_observer;
};

} // namespace orvex::test
