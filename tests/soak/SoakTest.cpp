// The soak: the engine polling with a poll interval of 0 while a second
// thread presses the buttons that stay enabled in polling mode, against
// the virtual peripheral, until it has answered N exchanges
// (ORVEX_SOAK_EXCHANGES; 300 when unset, scripts/soak gives 10,000). Then
// the log must hold every exchange whole and in order: each header
// followed by its own lines and its separator, nothing interleaved, no
// line lost, and as many headers as exchanges the unit answered.
#include "app/COperatorPanel.h"
#include "decode/CExchangeLog.h"
#include "device/CKRMSInterface.h"
#include "link/CCommand.h"
#include "sim/CSimulator.h"
#include "vmc/CVMC.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using namespace orvex;

namespace {

class CSoakSink final : public CLogSink {
public:
    void AddLine(std::string_view line) override
    {
        std::lock_guard lock(m_mutex);
        m_lines.emplace_back(line);
    }
    void SelectLastLine() override { }
    void SetStatusText(std::string_view) override { }
    std::vector<std::string> Take()
    {
        std::lock_guard lock(m_mutex);
        return std::move(m_lines);
    }

private:
    std::mutex m_mutex; // guards m_lines
    std::vector<std::string> m_lines;
};

std::uint64_t SoakCount()
{
    const char* text = std::getenv("ORVEX_SOAK_EXCHANGES");
    if (!text || !*text)
        return 300;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    return (*end == '\0' && value > 0) ? value : 300;
}

// The command code each log name sends.
const std::map<std::string, int>& CommandCodes()
{
    static const std::map<std::string, int> codes {
        { "POLL", 0x33 }, { "RESET", 0x30 }, { "STATUS REQUEST", 0x31 }, { "SET SECURITY", 0x32 },
        { "BILL TYPE", 0x34 }, { "PACK", 0x35 }, { "RETURN", 0x36 }, { "IDENTIFICATION", 0x37 },
        { "SET BAR PARAMETERS", 0x39 }, { "EXTRACT BARCODE", 0x3A }, { "GET CASSETTE STATUS", 0x3B },
        { "EXTENDED IDENTIFICATION", 0x3E }, { "BILL TABLE", 0x41 }, { "MODULE IDENTIFICATION", 0x53 },
        { "REQUEST STATISTICS", 0x60 }, { "GET CY TIME", 0x62 }, { "SET CY TIME", 0x62 }, { "POWER RECOVERY", 0x66 },
        { "SET OPTIONS", 0x68 }, { "GET OPTIONS", 0x69 }, { "EXTENDED CASSETTE STATUS REQUEST", 0x70 },
        { "DIAGNOSTIC STATUS REQUEST", 0xF0 }, { "DIAGNOSTIC IDENTIFICATION REQUEST", 0xF0 },
        { "DIAGNOSTIC SUPPORTED FUNCTIONS", 0xF0 }, { "DIAGNOSTIC SENSOR STATE", 0xF0 },
        { "DIAGNOSTIC TEST VALIDATOR", 0xF0 }, { "DIAGNOSTIC TEST CASSETTE", 0xF0 },
        { "DIAGNOSTIC TEST DISPENSER", 0xF0 }, { "DIAGNOSTIC TEST SWITCH", 0xF0 },
        { "DIAGNOSTIC TEST CHASSIS", 0xF0 }, { "DIAGNOSTIC TEST COMMUNICATION", 0xF0 }, { "DIAGNOSTIC", 0xF0 },
    };
    return codes;
}

struct LogCheck {
    std::uint64_t headers { 0 };
    std::uint64_t unanswered { 0 }; // exchanges that failed or never got the lock
    std::map<std::string, std::uint64_t> byName;
    std::vector<std::string> faults;
};

// "->NAME (HH:MM:SS)": the name, or empty when the line is no header.
std::string HeaderName(const std::string& line)
{
    const std::size_t open = line.rfind(" (");
    if (line.size() < 14 || line.compare(0, 2, "->") != 0 || line[2] == ' ' || open == std::string::npos
        || line.size() - open != 11 || line.back() != ')')
        return {};
    for (std::size_t i = open + 2; i < open + 10; ++i) {
        const bool colon = (i - open - 2) % 3 == 2;
        if (colon ? line[i] != ':' : !std::isdigit(static_cast<unsigned char>(line[i])))
            return {};
    }
    return line.substr(2, open - 2);
}

// A raw record line: the direction and "%02X " groups only.
bool IsHexLine(const std::string& line)
{
    if (line.size() < 6 || (line.compare(0, 3, "-> ") != 0 && line.compare(0, 3, "<- ") != 0) || (line.size() - 3) % 3 != 0)
        return false;
    for (std::size_t at = 3; at < line.size(); at += 3) {
        auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
        if (!hex(line[at]) || !hex(line[at + 1]) || line[at + 2] != ' ')
            return false;
    }
    return true;
}

// Walks the log block by block (a block ends with the separator).
LogCheck CheckLog(const std::vector<std::string>& lines)
{
    LogCheck check;
    std::vector<std::string> block;
    auto fault = [&check](std::string text) {
        if (check.faults.size() < 10)
            check.faults.push_back(std::move(text));
    };
    for (const std::string& line : lines) {
        if (line != CExchangeLog::kSeparator) {
            block.push_back(line);
            continue;
        }
        if (block.empty()) {
            fault("an empty block");
        } else if (HeaderName(block[0]).empty()) {
            // A free-standing line of the device interface.
            if (block.size() != 1)
                fault("a block without a header: " + block[0]);
        } else {
            ++check.headers;
            const std::string name = HeaderName(block[0]);
            ++check.byName[name];
            std::vector<std::uint8_t> sent;
            std::vector<std::uint8_t> received;
            bool failed = false;
            for (std::size_t i = 1; i < block.size(); ++i) {
                if (!HeaderName(block[i]).empty())
                    fault("two headers in one block: " + block[0] + " / " + block[i]);
                if (block[i] == "<- ... (no response)" || block[i] == "<- Timeout")
                    failed = true;
                if (!IsHexLine(block[i]))
                    continue;
                auto& bytes = block[i][0] == '-' ? sent : received;
                // Only the first frame each way: the command, then the reply.
                if (block[i][0] == '-' && !received.empty() && !sent.empty())
                    continue;
                if (block[i][0] == '<' && !received.empty() && block[i - 1][0] != '<')
                    continue;
                for (std::size_t at = 3; at + 2 <= block[i].size(); at += 3)
                    bytes.push_back(static_cast<std::uint8_t>(std::stoi(block[i].substr(at, 2), nullptr, 16)));
            }
            if (failed) {
                if (check.unanswered++ < 3) {
                    std::string text;
                    for (const std::string& line : block)
                        text += "\n    " + line;
                    std::printf("soak: unanswered:%s\n", text.c_str());
                }
            } else {
                auto code = CommandCodes().find(name);
                auto shown = [&block] {
                    std::string text;
                    for (const std::string& line : block)
                        text += "\n    " + line;
                    return text;
                };
                if (sent.size() < 4 || (code != CommandCodes().end() && sent[3] != code->second))
                    fault("the raw command does not belong to its header:" + shown());
                std::size_t length = received.size() >= 5 ? (received[2] != 0 ? received[2] : received[3] * 256u + received[4]) : 0;
                if (received.size() < 6 || length != received.size())
                    fault("a reply with lines missing under " + block[0]);
            }
        }
        block.clear();
    }
    if (!block.empty())
        fault("the log ends inside an exchange: " + block[0]);
    return check;
}

} // namespace

TEST(Soak, EveryExchangeIsLoggedWholeAndInOrder)
{
    const std::uint64_t target = SoakCount();
    SimOptions options;
    options.pace = 0.05;
    options.escrowTimeoutSeconds = 0;
    CSimulator simulator(options);
    const std::string path = simulator.StartPty();
    ASSERT_FALSE(path.empty()) << simulator.LastError();

    CKRMSInterface device(CPortTable(std::vector<std::string> { path }));
    ASSERT_NE(device.OpenPort(0, 500), 0);
    device.SetIntercommandInterval(0);
    CSoakSink sink;
    CExchangeLog log(device.GetProtocol(), sink);
    // Raw frames on: every exchange is written with its record, and no
    // repeated POLL is left out, so each one can be counted and checked.
    CVMC engine(&device);
    COperatorPanel panel(device, engine, &log, &sink);
    panel.Attach(COperatorPanel::kNoPort);
    PanelMembers members = panel.GetMembers();
    members.communicationData = 1;
    members.deviceAddress = 1;
    panel.SetMembers(members);
    panel.CommunicationDataBox();
    log.SetRawFrames(1);
    device.GetProtocol()->SetObserver(&log);
    engine.SetDeviceAddress(1);
    device.SetPollInterval(0);
    const std::uint64_t answeredBefore = simulator.ExchangesAnswered();
    ASSERT_TRUE(engine.Start());

    std::atomic<bool> stop { false };
    std::atomic<std::uint64_t> pressed { 0 };
    std::thread buttons([&] {
        using Handler = CommandId;
        const Handler handlers[] = {
            CommandId::ModuleIdentification, CommandId::RequestStatistics, CommandId::DgnStatus,
            CommandId::DgnIdent, CommandId::DgnFunctions, CommandId::DgnSensors,
            CommandId::DgnValidator, CommandId::DgnCassette, CommandId::DgnDispenser,
            CommandId::DgnSwitch, CommandId::DgnChassis, CommandId::DgnComm,
            CommandId::Diagnostic,
        };
        std::size_t next = 0;
        while (!stop.load()) {
            panel.Run(handlers[next++ % std::size(handlers)]);
            ++pressed;
        }
    });

    // Bounded: at a few hundred exchanges a second even under ThreadSanitizer.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60 + target / 20);
    while (simulator.ExchangesAnswered() - answeredBefore < target && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    stop = true;
    buttons.join();
    engine.RequestStop();
    ASSERT_TRUE(engine.WaitForEnd(20s));
    device.GetProtocol()->SetObserver(nullptr);
    const std::uint64_t answered = simulator.ExchangesAnswered() - answeredBefore;
    simulator.Stop();
    ASSERT_GE(answered, target) << "the soak did not reach its count in time";

    const LogCheck check = CheckLog(sink.Take());
    for (const std::string& fault : check.faults)
        ADD_FAILURE() << fault;
    std::printf("soak: %llu exchanges answered, %llu headers, %llu unanswered, %llu button presses\n",
        static_cast<unsigned long long>(answered), static_cast<unsigned long long>(check.headers),
        static_cast<unsigned long long>(check.unanswered), static_cast<unsigned long long>(pressed.load()));
    for (const auto& [name, count] : check.byName)
        std::printf("soak:   %-36s %llu\n", name.c_str(), static_cast<unsigned long long>(count));
    EXPECT_EQ(check.headers, answered + check.unanswered);
    EXPECT_EQ(check.unanswered, 0u) << "exchanges that failed or waited out the lock";
    EXPECT_GT(pressed.load(), 0u);
}
