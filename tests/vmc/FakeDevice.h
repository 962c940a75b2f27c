#pragma once

#include "device/CVMCInterface.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex::test {

// A device contract that answers POLL from a script and records every
// operation the engine calls, by name.
class FakeDevice : public CVMCInterface {
public:
    struct PollAnswer {
        int result { 0 };
        int state { 0x14 };
        int subState { 0 };
    };
    using PollScript = std::function<PollAnswer(int pollIndex)>;

    void SetPollScript(PollScript script)
    {
        std::lock_guard lock(m_mutex);
        m_script = std::move(script);
    }
    void SetInitResult(int result) { m_initResult.store(result); }
    void SetWaitResult(int result) { m_waitResult.store(result); }
    // InitRecycler then waits, as a 600 s device wait would, until stopped.
    void SetInitBlocks(bool blocks) { m_initBlocks.store(blocks); }

    std::vector<std::string> Calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    int Count(const std::string& name) const
    {
        std::lock_guard lock(m_mutex);
        int count = 0;
        for (const auto& call : m_calls)
            count += call == name;
        return count;
    }
    bool WaitFor(const std::string& name, int count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (Count(name) < count) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    std::vector<int> InitResetFlags() const
    {
        std::lock_guard lock(m_mutex);
        return m_initResets;
    }
    std::uint32_t LastEnabled() const { return m_lastEnabled.load(); }
    std::uint32_t LastEscrow() const { return m_lastEscrow.load(); }

    int Poll(int& state, int& subState, int address) override
    {
        PollAnswer answer;
        {
            std::lock_guard lock(m_mutex);
            m_calls.push_back("Poll");
            m_lastAddress = address;
            if (m_script)
                answer = m_script(m_polls);
            ++m_polls;
        }
        state = answer.result == 0 ? answer.state : 0;
        subState = answer.result == 0 ? answer.subState : 0;
        SetLastPoll({ static_cast<std::uint8_t>(state), static_cast<std::uint8_t>(subState), 0 });
        return answer.result;
    }
    int InitRecycler(std::uint32_t, std::uint8_t, std::uint32_t, int, int reset) override
    {
        Record("InitRecycler");
        {
            std::lock_guard lock(m_mutex);
            m_initResets.push_back(reset);
        }
        while (m_initBlocks.load() && !StopRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return m_initBlocks.load() ? 0 : m_initResult.load();
    }
    int GetStatus(std::uint32_t& enabled, std::uint32_t& security, std::uint32_t& routed, int) override
    {
        Record("GetStatus");
        enabled = security = routed = 0;
        return 0;
    }
    int GetCassettes(CassetteRecord records[kCassettes], int) override
    {
        Record("GetCassettes");
        for (int index = 0; index < kCassettes; ++index) {
            records[index].status = 0;
            records[index].billCount = static_cast<std::uint8_t>(index);
        }
        return 0;
    }
    int EnableBills(std::uint32_t& enabled, std::uint32_t escrowMask, int) override
    {
        Record("EnableBills");
        m_lastEnabled.store(enabled);
        m_lastEscrow.store(escrowMask);
        return 0;
    }
    int StackBill(int) override
    {
        Record("StackBill");
        SetLastPoll({ 0x81, 2, 0 });
        return 0;
    }
    int ReturnBill(int) override
    {
        Record("ReturnBill");
        SetLastPoll({ 0x82, 2, 0 });
        return 0;
    }
    int ReadBarcode(std::string& text, int) override
    {
        Record("ReadBarcode");
        text = "123";
        return 1;
    }
    int WaitState(int flags, int timeoutSeconds, int) override
    {
        Record("WaitState " + std::to_string(flags) + " " + std::to_string(timeoutSeconds));
        return m_waitResult.load();
    }
    int BusReset(int) override
    {
        Record("BusReset");
        return 0;
    }
    int LastAddress() const
    {
        std::lock_guard lock(m_mutex);
        return m_lastAddress;
    }

private:
    void Record(const std::string& name)
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(name);
    }

    mutable std::mutex m_mutex; // guards the script, the calls and the counters
    PollScript m_script;
    std::vector<std::string> m_calls;
    std::vector<int> m_initResets;
    int m_polls { 0 };
    int m_lastAddress { -1 };
    std::atomic<int> m_initResult { 0 };
    std::atomic<int> m_waitResult { 1 };
    std::atomic<bool> m_initBlocks { false };
    std::atomic<std::uint32_t> m_lastEnabled { 0 };
    std::atomic<std::uint32_t> m_lastEscrow { 0 };
};

} // namespace orvex::test
