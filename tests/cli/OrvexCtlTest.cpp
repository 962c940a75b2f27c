#include "cli/COrvexCtl.h"
#include "sim/CSimulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace orvex;

namespace {

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

struct RunResult {
    int status;
    std::vector<std::string> out;
    std::vector<std::string> err;
};

RunResult RunCtl(const std::vector<std::string>& arguments, const std::string& input = {})
{
    std::ostringstream out, err;
    std::istringstream in(input);
    COrvexCtl program(out, err, in);
    const int status = program.Run(arguments);
    return { status, SplitLines(out.str()), SplitLines(err.str()) };
}

SimOptions FastCyclor()
{
    SimOptions options;
    options.pace = 0.02;
    options.escrowTimeoutSeconds = 0;
    return options;
}

class CtlOnSimulator : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = m_simulator.StartPty();
        ASSERT_FALSE(m_path.empty()) << m_simulator.LastError();
    }
    void TearDown() override { m_simulator.Stop(); }
    std::vector<std::string> On(std::vector<std::string> words, int address = 1)
    {
        std::vector<std::string> arguments { "--port", m_path, "--address", std::to_string(address),
            "--intercommand", "2" };
        arguments.insert(arguments.end(), words.begin(), words.end());
        return arguments;
    }

    CSimulator m_simulator { FastCyclor() };
    std::string m_path;
};

bool AllLogLines(const std::vector<std::string>& lines)
{
    for (const auto& line : lines) {
        if (!(line.rfind("->", 0) == 0 || line.rfind("<-", 0) == 0 || line.rfind("---", 0) == 0 || line.empty()))
            return false;
    }
    return true;
}

} // namespace

TEST_F(CtlOnSimulator, ButtonCommandWritesLogLinesAndTheResultLineLast)
{
    const RunResult result = RunCtl(On({ "identification" }));
    EXPECT_EQ(result.status, 0);
    ASSERT_FALSE(result.out.empty());
    EXPECT_EQ(result.out.front().rfind("->IDENTIFICATION (", 0), 0u) << result.out.front();
    EXPECT_TRUE(AllLogLines(result.out));
    ASSERT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.back(), "Identification : OK");
}

TEST_F(CtlOnSimulator, FailedCommandExitsOne)
{
    m_simulator.Control("silent on");
    const RunResult result = RunCtl(On({ "reset" }));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.back(), "Reset:Timeout");
}

TEST_F(CtlOnSimulator, RawFramesAddTheRecordLines)
{
    const RunResult result = RunCtl(On({ "--raw", "poll" }));
    EXPECT_EQ(result.status, 0);
    ASSERT_GE(result.out.size(), 3u);
    EXPECT_TRUE(std::any_of(result.out.begin(), result.out.end(),
        [](const std::string& line) { return line.rfind("-> 02 01 06 33 ", 0) == 0; }));
}

TEST_F(CtlOnSimulator, RtsOptionLeavesTheExchangeAsItWas)
{
    const RunResult result = RunCtl(On({ "--rts", "off", "poll" }));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err.back(), "Poll: OK");
}

TEST_F(CtlOnSimulator, NoDecodeWritesNothingToStandardOutput)
{
    const RunResult result = RunCtl(On({ "--no-decode", "poll" }));
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.out.empty());
    EXPECT_EQ(result.err.back(), "Poll: OK");
}

TEST_F(CtlOnSimulator, CassetteMessageAndNothingSentExitOne)
{
    const RunResult result = RunCtl(On({ "--address", "4", "poll" }));
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.out.empty());
}

TEST_F(CtlOnSimulator, ScriptCarriesStateFromLineToLine)
{
    const RunResult result = RunCtl(On({ "script", "-" }), "bill-table\npoll\npoll\n# done\nget-level\n");
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(result.err.size(), 4u) << testing::PrintToString(result.err);
    EXPECT_EQ(result.err[0], "Get Bill Table : OK");
    EXPECT_EQ(result.err[1], "Poll: OK");
    EXPECT_EQ(result.err[2], "Poll: OK");
    EXPECT_EQ(result.err[3], "Get Cassete Feeding Level: OK");
    EXPECT_TRUE(std::any_of(result.out.begin(), result.out.end(),
        [](const std::string& line) { return line.rfind("<- Cassette 1 feeding level:", 0) == 0; }));
}

TEST_F(CtlOnSimulator, ScriptWithAMistakeSendsNothing)
{
    const auto answered = m_simulator.ExchangesAnswered();
    const RunResult result = RunCtl(On({ "script", "-" }), "poll\nunload 7 1\n");
    EXPECT_EQ(result.status, 2);
    ASSERT_EQ(result.err.size(), 1u);
    EXPECT_NE(result.err[0].find("line 2"), std::string::npos);
    EXPECT_EQ(m_simulator.ExchangesAnswered(), answered);
}

TEST_F(CtlOnSimulator, SearchWithSetWritesDefaultCassetteTypes)
{
    // Bills 1, 2, 5, 10, ... are types 0, 1, 2, 3: cassettes get 0, 2 and 3.
    const RunResult result = RunCtl({ "--port", m_path, "search", "SET" });
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(std::find(result.out.begin(), result.out.end(), "Cyclor Unit found on COM1"), result.out.end());
    EXPECT_NE(std::find(result.out.begin(), result.out.end(), "Cassete types were successfuly set"), result.out.end());
    const SimLedger ledger = m_simulator.Snapshot().ledger;
    EXPECT_EQ(ledger.cassettes[0].type, 0);
    EXPECT_EQ(ledger.cassettes[1].type, 2);
    EXPECT_EQ(ledger.cassettes[2].type, 3);
}

TEST_F(CtlOnSimulator, SearchFindsAndInitialisesTheUnit)
{
    const RunResult result = RunCtl({ "--port", m_path, "search" });
    EXPECT_EQ(result.status, 0);
    const std::vector<std::string> expected { "Searching for Devices...", "Cyclor Unit found on COM1",
        "Initializing Bill Changer...", "Starting server program ..." };
    std::vector<std::string> texts;
    for (const auto& line : result.out) {
        if (std::find(expected.begin(), expected.end(), line) != expected.end())
            texts.push_back(line);
    }
    EXPECT_EQ(texts, expected);
    EXPECT_TRUE(std::any_of(result.out.begin(), result.out.end(),
        [](const std::string& line) { return line.rfind("->IDENTIFICATION (", 0) == 0; }));
}

TEST_F(CtlOnSimulator, PollingForSomeSecondsStacksAndExitsZero)
{
    ASSERT_EQ(m_simulator.Control("auto 1").rfind("ok", 0), 0u);
    const RunResult result = RunCtl(On({ "--poll-interval", "20", "polling", "--seconds", "4", "--escrow", "FFFFFF" }));
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(std::any_of(result.out.begin(), result.out.end(),
        [](const std::string& line) { return line.rfind("->PACK (", 0) == 0; }))
        << testing::PrintToString(result.out) << m_simulator.Control("state");
    EXPECT_TRUE(AllLogLines(result.out));
    EXPECT_FALSE(m_simulator.Snapshot().ledger.returned > 0);
}

TEST(CtlErrors, UsageErrorExitsTwoWithOneMessage)
{
    const RunResult result = RunCtl({ "--baud", "4800", "poll" });
    EXPECT_EQ(result.status, 2);
    EXPECT_TRUE(result.out.empty());
    ASSERT_EQ(result.err.size(), 1u);
    EXPECT_NE(result.err[0].find("\"4800\""), std::string::npos);
}

TEST(CtlErrors, PortThatCannotOpenNamesThePathAndReason)
{
    const RunResult result = RunCtl({ "--port", "/dev/orvex-no-such-port", "poll" });
    EXPECT_EQ(result.status, 1);
    ASSERT_EQ(result.err.size(), 1u);
    EXPECT_EQ(result.err[0], "orvexctl: /dev/orvex-no-such-port: No such file or directory");
}

TEST(CtlErrors, PortsListsSixteenSlots)
{
    const RunResult result = RunCtl({ "--port", "/dev/orvex-no-such-port", "ports" });
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(result.out.size(), 16u);
    EXPECT_EQ(result.out[0], "COM1 /dev/orvex-no-such-port 2");
    EXPECT_EQ(result.out[15], "COM16 - 2");
}

// ---- The program itself, stopped by a signal ---------------------------------------

namespace {

std::string ProgramPath()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    std::string self(path, static_cast<std::size_t>(length));
    return self.substr(0, self.rfind('/')) + "/orvexctl";
}

} // namespace

TEST_F(CtlOnSimulator, PollingStopsOnSigintAndExitsZero)
{
    const std::string program = ProgramPath();
    if (access(program.c_str(), X_OK) != 0)
        GTEST_SKIP() << program << " is not built";
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execl(program.c_str(), program.c_str(), "--port", m_path.c_str(), "--address", "1", "polling", nullptr);
        _exit(127);
    }
    close(pipeFds[1]);
    // Wait for the first idling poll, then interrupt.
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (output.find("<- IDLING") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd descriptor { pipeFds[0], POLLIN, 0 };
        if (poll(&descriptor, 1, 100) > 0) {
            char buffer[4096];
            const ssize_t count = read(pipeFds[0], buffer, sizeof buffer);
            if (count <= 0)
                break;
            output.append(buffer, static_cast<std::size_t>(count));
        }
    }
    EXPECT_NE(output.find("<- IDLING"), std::string::npos);
    kill(child, SIGINT);
    int status = -1;
    pid_t ended = 0;
    for (int turn = 0; turn < 100 && ended == 0; ++turn) {
        ended = waitpid(child, &status, WNOHANG);
        if (ended == 0)
            std::this_thread::sleep_for(50ms);
    }
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "orvexctl did not stop within 5 s of SIGINT";
    }
    close(pipeFds[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(CtlOnSimulator, UnprivilegedUserIsToldAboutTheDialoutGroup)
{
    const std::string program = ProgramPath();
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to run orvexctl as an ordinary user";
    if (access(program.c_str(), X_OK) != 0)
        GTEST_SKIP() << program << " is not built";
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(pipeFds[1], STDERR_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        // nobody, in no group: the simulator's pty belongs to root alone.
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(126);
        execl(program.c_str(), program.c_str(), "--port", m_path.c_str(), "poll", nullptr);
        _exit(127);
    }
    close(pipeFds[1]);
    std::string error;
    char buffer[1024];
    for (ssize_t count; (count = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        error.append(buffer, static_cast<std::size_t>(count));
    close(pipeFds[0]);
    int status = -1;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127)
        GTEST_SKIP() << "could not run as nobody";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(error.find(m_path + ": Permission denied"), std::string::npos) << error;
    EXPECT_NE(error.find("dialout"), std::string::npos) << error;
}
