// The wire path end to end on ptys, as a technician runs it: orvexctl
// sends a script to orvex-sim through `orvexctl relay`, while a two-tap
// `orvexctl monitor` listens to both lines. The relay's log, the
// monitor's log and `orvexctl decode` of the relay's capture give the very
// lines of orvexctl's own log (header times aside); tshark with the
// shipped dissector names every frame as the log does; and orvex-sim
// --replay of the capture answers a second run of the script identically.
#include "link/CPtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace std::chrono_literals;

namespace {

std::string BinaryFolder()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string text(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    return text.substr(0, text.rfind('/'));
}

// A program of this build in the background, standard output and error to files.
struct CChild {
    pid_t pid { -1 };

    bool Start(const std::string& program, const std::vector<std::string>& arguments, const std::string& output,
        const std::string& errors)
    {
        const std::string path = program[0] == '/' ? program : BinaryFolder() + "/" + program;
        std::vector<char*> argv { const_cast<char*>(path.c_str()) };
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool started = posix_spawnp(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        return started;
    }
    // Exit status, or -1 when it had to be killed.
    int Wait(std::chrono::milliseconds timeout)
    {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (pid > 0 && waitpid(pid, &status, WNOHANG) != pid) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                pid = -1;
                return -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int Stop()
    {
        if (pid > 0)
            kill(pid, SIGTERM);
        return Wait(10s);
    }
    ~CChild() { Stop(); }
};

std::string Read(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool WaitForFile(const std::string& path)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    struct stat info {};
    while (lstat(path.c_str(), &info) != 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// The exchanges of a log, header times taken out: every block from a
// header line to its separator. Lines outside exchanges (messages, tool
// events, the relay's "opened" lines) are left out.
std::vector<std::string> Exchanges(const std::string& log)
{
    static const std::regex header(R"(^->(.+) \(\d\d:\d\d:\d\d(\.\d{6})?\)$)");
    std::vector<std::string> blocks;
    std::istringstream lines(log);
    std::string line;
    std::string block;
    bool inside = false;
    while (std::getline(lines, line)) {
        std::smatch match;
        if (!inside && std::regex_match(line, match, header)) {
            block = "->" + match[1].str() + "\n";
            inside = true;
        } else if (inside) {
            block += line + "\n";
            if (line.find_first_not_of('-') == std::string::npos && line.size() == 132) {
                blocks.push_back(block);
                inside = false;
            }
        }
    }
    return blocks;
}

std::vector<std::string> Names(const std::vector<std::string>& blocks)
{
    std::vector<std::string> names;
    for (const std::string& block : blocks)
        names.push_back(block.substr(2, block.find('\n') - 2));
    return names;
}

// Copies the controller's line to the relay's and the relay's back, each
// direction also onto a tap of its own, as a tap cable would.
class CTapBridge {
public:
    CTapBridge(int controller, int relay, int controllerTap, int unitTap)
        : m_thread([=, this] { Run(controller, relay, controllerTap, unitTap); })
    {
    }
    ~CTapBridge()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    static void WriteAll(int fd, const char* bytes, ssize_t count)
    {
        while (count > 0) {
            const ssize_t written = ::write(fd, bytes, static_cast<std::size_t>(count));
            if (written > 0) {
                bytes += written;
                count -= written;
            } else {
                pollfd entry { fd, POLLOUT, 0 };
                ::poll(&entry, 1, 100);
            }
        }
    }
    void Run(int controller, int relay, int controllerTap, int unitTap)
    {
        char buffer[4096];
        while (!m_stop) {
            pollfd entries[2] { { controller, POLLIN, 0 }, { relay, POLLIN, 0 } };
            if (::poll(entries, 2, 20) <= 0)
                continue;
            for (int side = 0; side < 2; ++side) {
                if ((entries[side].revents & POLLIN) == 0)
                    continue;
                const ssize_t got = ::read(entries[side].fd, buffer, sizeof buffer);
                if (got <= 0)
                    continue;
                WriteAll(side == 0 ? relay : controller, buffer, got);
                WriteAll(side == 0 ? controllerTap : unitTap, buffer, got);
            }
        }
    }

    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

constexpr const char* kScript = "identification\n"
                                "poll\n"
                                "bill-table\n"
                                "get-options\n"
                                "statistics\n"
                                "cassette-status\n"
                                "set-security FFFFFF\n"
                                "poll\n"
                                "poll\n";

} // namespace

TEST(WireEndToEnd, RelayMonitorDecodeDissectorAndReplayAllTellTheSameExchanges)
{
    const std::string bin = BinaryFolder();
    if (access((bin + "/orvexctl").c_str(), X_OK) != 0 || access((bin + "/orvex-sim").c_str(), X_OK) != 0)
        GTEST_SKIP() << "orvexctl or orvex-sim is not built";
    char folderTemplate[] = "/tmp/orvex-wire-XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate;
    const std::string script = folder + "/script.txt";
    std::ofstream(script) << kScript;
    const std::string capture = folder + "/relay.pcapng";

    std::string own;
    {
        CChild simulator;
        ASSERT_TRUE(simulator.Start("orvex-sim", { "--link", folder + "/unit" }, folder + "/sim.out", folder + "/sim.err"));
        ASSERT_TRUE(WaitForFile(folder + "/unit"));

        orvex::CPtyPair controllerLine, relayLine, controllerTap, unitTap;
        ASSERT_EQ(controllerLine.Open(), 0);
        ASSERT_EQ(relayLine.Open(), 0);
        ASSERT_EQ(controllerTap.Open(), 0);
        ASSERT_EQ(unitTap.Open(), 0);
        CTapBridge bridge(controllerLine.Master(), relayLine.Master(), controllerTap.Master(), unitTap.Master());

        CChild relay;
        ASSERT_TRUE(relay.Start("orvexctl",
            { "--capture", capture, "relay", "--controller-port", relayLine.SlavePath(), "--device-port", folder + "/unit" },
            folder + "/relay.out", folder + "/relay.err"));
        CChild monitor;
        ASSERT_TRUE(monitor.Start("orvexctl",
            { "monitor", "--port", controllerTap.SlavePath(), "--port", unitTap.SlavePath() }, folder + "/monitor.out",
            folder + "/monitor.err"));
        // Both say they opened their ports before anything is sent.
        const auto ready = std::chrono::steady_clock::now() + 10s;
        while ((Read(folder + "/relay.out").find("opened") == std::string::npos
                   || Read(folder + "/monitor.out").find("opened") == std::string::npos)
            && std::chrono::steady_clock::now() < ready)
            std::this_thread::sleep_for(20ms);

        // A generous reply time-out: a loaded machine may hold the relayed
        // reply past the usual one, and the point here is that the views agree.
        CChild controller;
        ASSERT_TRUE(controller.Start("orvexctl",
            { "--port", controllerLine.SlavePath(), "--address", "1", "--timeout", "3000", "script", script },
            folder + "/own.out", folder + "/own.err"));
        EXPECT_EQ(controller.Wait(30s), 0) << Read(folder + "/own.err");
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(relay.Stop(), 0) << Read(folder + "/relay.err");
        EXPECT_EQ(monitor.Stop(), 0) << Read(folder + "/monitor.err");
        own = Read(folder + "/own.out");
    }

    const std::vector<std::string> expected = Exchanges(own);
    ASSERT_EQ(expected.size(), 9u) << own;
    EXPECT_EQ(Exchanges(Read(folder + "/relay.out")), expected) << "the relay's log";
    EXPECT_EQ(Exchanges(Read(folder + "/monitor.out")), expected) << "the two-tap monitor's log";

    CChild decode;
    ASSERT_TRUE(decode.Start("orvexctl", { "decode", capture }, folder + "/decode.out", folder + "/decode.err"));
    EXPECT_EQ(decode.Wait(30s), 0) << Read(folder + "/decode.err");
    EXPECT_EQ(Exchanges(Read(folder + "/decode.out")), expected) << "orvexctl decode of the relay's capture";

    // tshark with the shipped dissector: every command frame is named as the
    // log names it, every frame carries the unit's address.
    const std::string dissector = bin + "/../share/orvex.lua";
    if (access("/usr/bin/tshark", X_OK) == 0 && access(dissector.c_str(), R_OK) == 0) {
        CChild tshark;
        ASSERT_TRUE(tshark.Start("/usr/bin/tshark",
            { "-X", "lua_script:" + dissector, "-r", capture, "-Y", "orvex.sync", "-T", "fields", "-e", "orvex.direction",
                "-e", "orvex.address", "-e", "orvex.command", "-e", "orvex.ack", "-e", "orvex.check_code.bad" },
            folder + "/tshark.out", folder + "/tshark.err"));
        EXPECT_EQ(tshark.Wait(60s), 0) << Read(folder + "/tshark.err");
        std::istringstream rows(Read(folder + "/tshark.out"));
        std::string row;
        std::vector<std::string> commands;
        std::size_t frames = 0;
        while (std::getline(rows, row)) {
            std::vector<std::string> fields;
            std::istringstream cells(row);
            std::string cell;
            while (std::getline(cells, cell, '\t'))
                fields.push_back(cell);
            fields.resize(5);
            ++frames;
            EXPECT_EQ(fields[1], "1") << row;
            EXPECT_EQ(fields[4], "") << "a good frame marked with a wrong check code: " << row;
            if (fields[0] == "controller" && fields[3].empty())
                commands.push_back(fields[2]);
        }
        EXPECT_EQ(commands, Names(expected));
        EXPECT_GE(frames, 3 * expected.size() - 2);
    }

    // The capture replayed: the same script against orvex-sim --replay gets
    // the same answers.
    {
        CChild replay;
        ASSERT_TRUE(replay.Start("orvex-sim", { "--replay", capture, "--link", folder + "/replay" }, folder + "/replay.out",
            folder + "/replay.err"));
        ASSERT_TRUE(WaitForFile(folder + "/replay"));
        CChild second;
        ASSERT_TRUE(second.Start("orvexctl", { "--port", folder + "/replay", "--address", "1", "--timeout", "3000", "script", script },
            folder + "/second.out", folder + "/second.err"));
        EXPECT_EQ(second.Wait(30s), 0) << Read(folder + "/second.err");
        EXPECT_EQ(Exchanges(Read(folder + "/second.out")), expected) << "the replayed run";
        EXPECT_EQ(Read(folder + "/replay.err").find("departs"), std::string::npos) << Read(folder + "/replay.err");
    }
    std::system(("rm -rf '" + folder + "'").c_str());
}
