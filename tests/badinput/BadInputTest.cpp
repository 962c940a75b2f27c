// Tables of bad input for orvexctl's options, arguments and scripts and
// for orvex-sim's options and control commands. Each bad input gets its
// exit status (2 for a usage error, 1 for a port that cannot be opened)
// and one message naming the word and the reason, and a usage error
// writes nothing on the line.
#include "sim/CSimulator.h"
#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace orvex;
using namespace orvex::test;
using namespace std::chrono_literals;

namespace {

std::string BinaryFolder()
{
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    std::string text(path, static_cast<std::size_t>(length));
    return text.substr(0, text.rfind('/'));
}

struct Outcome {
    int status { -1 };
    std::string out;
    std::string err;
};

// Runs a program of this build with the arguments and standard input
// given; ended after 20 s at most (by its own pid).
Outcome RunProgram(const std::string& program, const std::vector<std::string>& arguments, const std::string& input = {})
{
    Outcome outcome;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return outcome;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    const std::string path = BinaryFolder() + "/" + program;
    std::vector<char*> argv { const_cast<char*>(path.c_str()) };
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = -1;
    int spawned = posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) {
        ::close(in[1]);
        ::close(out[0]);
        ::close(err[0]);
        return outcome;
    }
    // A child that exits early may leave the pipe unread; no SIGPIPE here.
    std::signal(SIGPIPE, SIG_IGN);
    if (!input.empty() && ::write(in[1], input.data(), input.size()) < 0) { }
    ::close(in[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    pollfd fds[2] { { out[0], POLLIN, 0 }, { err[0], POLLIN, 0 } };
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (::poll(fds, 2, 200) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[65536];
            ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                (i == 0 ? outcome.out : outcome.err).append(buffer, static_cast<std::size_t>(got));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& entry : fds)
        if (entry.fd >= 0) {
            ::close(entry.fd);
            kill(child, SIGKILL);
        }
    int status = 0;
    waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

bool Built(const std::string& program)
{
    return access((BinaryFolder() + "/" + program).c_str(), X_OK) == 0;
}

int Lines(const std::string& text)
{
    int count = 0;
    for (char c : text)
        count += c == '\n';
    return count;
}

struct BadCase {
    std::vector<std::string> arguments;
    std::string named; // the word the message must name
};

const std::string kLong(100000, '7');

// Every option and argument with an empty, non-numeric, negative,
// overlong, out-of-range or non-hexadecimal value, unknown commands and
// options. {PORT} stands for a line that records what is written on it.
std::vector<BadCase> OrvexCtlCases()
{
    std::vector<BadCase> cases;
    for (const char* option : { "--address", "--timeout", "--intercommand", "--poll-interval" }) {
        for (const std::string& value : { std::string(""), std::string("abc"), std::string("-1"), kLong, std::string("99999999999"), std::string("1.5") })
            cases.push_back({ { option, value, "poll" }, value.substr(0, 60) });
    }
    cases.push_back({ { "--address", "5", "poll" }, "5" });
    // A line break typed into a word stays on the message's one line.
    cases.push_back({ { "--address", "1\n2", "poll" }, "\"1\\x0A2\"" });
    cases.push_back({ { "frob\x1B[2Jnicate" }, "frob\\x1B[2Jnicate" });
    for (const std::string& value : { std::string(""), std::string("abc"), std::string("-9600"), std::string("4800"), kLong })
        cases.push_back({ { "--baud", value, "poll" }, value.substr(0, 60) });
    for (const std::string& value : { std::string(""), std::string("COM0"), std::string("COM17"), std::string("COMx"), std::string("relative/path") })
        cases.push_back({ { "--port", value, "poll" }, value });
    cases.push_back({ { "--address" }, "--address" });
    cases.push_back({ { "--frobnicate", "poll" }, "--frobnicate" });
    cases.push_back({ { "frobnicate" }, "frobnicate" });
    cases.push_back({ { kLong }, kLong.substr(0, 60) });
    cases.push_back({ { "poll", "extra" }, "poll" });
    for (const char* command : { "bill-type", "set-security", "set-options" }) {
        for (const std::string& value : { std::string(""), std::string("XYZ"), std::string("-1"), kLong, std::string("1FFFFFFFFF") })
            cases.push_back({ { command, value }, value.substr(0, 60) });
    }
    for (const std::string& value : { std::string(""), std::string("x"), std::string("-18"), std::string("5"), std::string("19"), kLong })
        cases.push_back({ { "set-barcode", value }, value.substr(0, 60) });
    for (const std::string& value : { std::string(""), std::string("x"), std::string("-1"), std::string("0"), std::string("4"), kLong }) {
        cases.push_back({ { "unload", value, "5" }, value.substr(0, 60) });
        cases.push_back({ { "unload-cmd", value, "5" }, value.substr(0, 60) });
        cases.push_back({ { "ext-cassette-status", value }, value.substr(0, 60) });
        cases.push_back({ { "set-level", value, "5" }, value.substr(0, 60) });
        cases.push_back({ { "set-cassette-type", value, "assigned", "2" }, value.substr(0, 60) });
    }
    for (const std::string& value : { std::string("x"), std::string("-1"), std::string("256"), kLong })
        cases.push_back({ { "unload", "1", value }, value.substr(0, 60) });
    cases.push_back({ { "set-cassette-type", "1", "sideways" }, "sideways" });
    cases.push_back({ { "set-cassette-type", "1", "assigned", "256" }, "256" });
    for (const std::string& value : { std::string("x"), std::string("-2"), std::string("300"), kLong })
        cases.push_back({ { "dispense", "0", value }, value.substr(0, 60) });
    for (const std::string& value : { std::string("x"), std::string("0"), std::string("17"), kLong })
        cases.push_back({ { "dgn-cassette", value }, value.substr(0, 60) });
    cases.push_back({ { "diagnostic", "XY", "0", "0" }, "XY" });
    cases.push_back({ { "diagnostic", "1", "12345678901234567", "0" }, "12345678901234567" });
    cases.push_back({ { "diagnostic", "1", "G", "0" }, "G" });
    cases.push_back({ { "diagnostic", "1", "0", "-1" }, "-1" });
    cases.push_back({ { "diagnostic", "1", "0", kLong }, kLong.substr(0, 60) });
    for (const std::string& value : { std::string(""), std::string("x"), std::string("-1"), kLong })
        cases.push_back({ { "polling", "--seconds", value }, value.substr(0, 60) });
    cases.push_back({ { "polling", "--enabled", "XYZ" }, "XYZ" });
    cases.push_back({ { "polling", "--barcode-length", "40" }, "40" });
    cases.push_back({ { "polling", "--wobble" }, "--wobble" });
    cases.push_back({ { "ports", "extra" }, "extra" });
    cases.push_back({ { "script" }, "script" });
    return cases;
}

} // namespace

TEST(BadInput, OrvexCtlRefusesEveryBadWordWithOneMessageAndSendsNothing)
{
    if (!Built("orvexctl"))
        GTEST_SKIP() << "orvexctl is not built in " << BinaryFolder();
    PtyPeer peer;
    peer.SetResponder(PtyPeer::Always(3, { 0x00 }));
    for (const BadCase& bad : OrvexCtlCases()) {
        std::vector<std::string> arguments;
        // The line goes first, so that a bad --port in the case wins.
        arguments = { "--port", peer.SlavePath() };
        arguments.insert(arguments.end(), bad.arguments.begin(), bad.arguments.end());
        std::string shown = arguments.size() > 2 ? arguments[2].substr(0, 40) + " " + (arguments.size() > 3 ? arguments[3].substr(0, 40) : "") : "";
        SCOPED_TRACE(shown);
        Outcome outcome = RunProgram("orvexctl", arguments);
        EXPECT_EQ(outcome.status, 2) << outcome.err;
        EXPECT_EQ(Lines(outcome.err), 1) << outcome.err.substr(0, 300);
        EXPECT_LT(outcome.err.size(), 400u) << "a message too long to read";
        EXPECT_NE(outcome.err.find(bad.named.empty() ? "\"\"" : bad.named), std::string::npos) << outcome.err.substr(0, 300);
        EXPECT_EQ(outcome.err.rfind("orvexctl: ", 0), 0u) << outcome.err.substr(0, 300);
    }
    EXPECT_TRUE(peer.Frames().empty()) << "a usage error wrote on the line";
}

TEST(BadInput, OrvexCtlScriptWithABadLineInTheMiddleSendsNothing)
{
    if (!Built("orvexctl"))
        GTEST_SKIP() << "orvexctl is not built";
    PtyPeer peer;
    peer.SetResponder(PtyPeer::Always(3, { 0x00 }));
    const std::vector<std::pair<std::string, std::string>> scripts {
        { "poll\nstatus\nbill-type XYZ\npoll\n", "line 3" },
        { "poll\r\nfrobnicate\r\npoll\r\n", "line 2" },
        { "# setup\n\nunload 4 5\n", "line 3" },
        { "poll\nset-barcode " + kLong + "\n", "line 2" },
    };
    for (const auto& [text, named] : scripts) {
        SCOPED_TRACE(named);
        Outcome outcome = RunProgram("orvexctl", { "--port", peer.SlavePath(), "script", "-" }, text);
        EXPECT_EQ(outcome.status, 2) << outcome.err;
        EXPECT_EQ(Lines(outcome.err), 1) << outcome.err.substr(0, 300);
        EXPECT_NE(outcome.err.find(named), std::string::npos) << outcome.err.substr(0, 300);
    }
    Outcome missing = RunProgram("orvexctl", { "--port", peer.SlavePath(), "script", "/nonexistent/orvex-script" });
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("/nonexistent/orvex-script"), std::string::npos) << missing.err;
    EXPECT_TRUE(peer.Frames().empty()) << "a script with a mistake sent something";
}

TEST(BadInput, OrvexCtlPortThatCannotBeOpenedExitsOneNamingThePath)
{
    if (!Built("orvexctl"))
        GTEST_SKIP() << "orvexctl is not built";
    char folder[] = "/tmp/orvex-badinput-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/not-a-tty";
    { int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644); ASSERT_GE(fd, 0); ::close(fd); }
    for (const std::string& path : { file, std::string(folder), std::string("/dev/null"), std::string(folder) + "/missing" }) {
        SCOPED_TRACE(path);
        Outcome outcome = RunProgram("orvexctl", { "--port", path, "poll" });
        EXPECT_EQ(outcome.status, 1) << outcome.err;
        EXPECT_EQ(Lines(outcome.err), 1) << outcome.err;
        EXPECT_NE(outcome.err.find(path + ": "), std::string::npos) << outcome.err;
    }
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0) << "bytes were written to a regular file";
    std::system(("rm -rf '" + std::string(folder) + "'").c_str());
}

TEST(BadInput, OrvexSimRefusesEveryBadOptionWithOneMessage)
{
    if (!Built("orvex-sim"))
        GTEST_SKIP() << "orvex-sim is not built";
    std::vector<BadCase> cases;
    for (const char* option : { "--pace", "--clock-offset", "--escrow-timeout", "--take-timeout" }) {
        for (const std::string& value : { std::string(""), std::string("abc"), std::string("-99999"), kLong, std::string("1e9"), std::string("nan") })
            cases.push_back({ { option, value }, option });
    }
    for (const std::string& value : { std::string(""), std::string("x"), std::string("-1"), kLong })
        cases.push_back({ { "--seed", value }, "--seed" });
    for (const std::string& value : { std::string(""), std::string("1"), std::string("4:0:1"), std::string("1:25:1"), std::string("1:0:300"), std::string("1:0:5:2"), std::string("x:y:z"), kLong })
        cases.push_back({ { "--cassette", value }, "--cassette" });
    for (const std::string& value : { std::string(""), std::string("USD"), std::string("USD:x"), std::string(":1,2"), kLong })
        cases.push_back({ { "--bills", value }, "--bills" });
    cases.push_back({ { "--device", "xx" }, "--device" });
    cases.push_back({ { "--baud", "4800" }, "--baud" });
    cases.push_back({ { "--baud", "9600" }, "--baud" });
    cases.push_back({ { "--link", "" }, "--link" });
    cases.push_back({ { "--control", "" }, "--control" });
    cases.push_back({ { "--pty=1" }, "--pty" });
    cases.push_back({ { "--pace" }, "--pace" });
    cases.push_back({ { "--wobble" }, "--wobble" });
    cases.push_back({ { "stray" }, "stray" });
    cases.push_back({ { "--port", "/dev/null", "--pty" }, "--pty" });
    for (const BadCase& bad : cases) {
        SCOPED_TRACE(bad.arguments[0] + " " + (bad.arguments.size() > 1 ? bad.arguments[1].substr(0, 40) : ""));
        Outcome outcome = RunProgram("orvex-sim", bad.arguments);
        EXPECT_EQ(outcome.status, 2) << outcome.err.substr(0, 300);
        EXPECT_EQ(Lines(outcome.err), 1) << outcome.err.substr(0, 300);
        EXPECT_LT(outcome.err.size(), 400u) << "a message too long to read";
        EXPECT_NE(outcome.err.find(bad.named), std::string::npos) << outcome.err.substr(0, 300);
        EXPECT_TRUE(outcome.out.empty()) << outcome.out.substr(0, 200);
    }
}

TEST(BadInput, OrvexSimControlCommandsAnswerOneErrorLineNamingTheWord)
{
    CSimulator simulator;
    const std::vector<std::pair<std::string, std::string>> cases {
        { "frobnicate", "frobnicate" },
        { "insert", "insert" },
        { "insert x", "x" },
        { "insert -1", "-1" },
        { "insert 99", "99" },
        { "insert " + kLong, "insert" },
        { "auto x", "x" },
        { "auto -5", "-5" },
        { "busy", "busy" },
        { "busy nan", "nan" },
        { "silent maybe", "maybe" },
        { "corrupt later", "later" },
        { "fail", "fail" },
        { "fail XYZ", "XYZ" },
        { "fail 41 GG", "GG" },
        { "jam sideways", "sideways" },
        { "take now please", "take" },
        { std::string(300, 'x'), "x" },
        { std::string("insert\x01 2"), "insert" },
    };
    for (const auto& [line, named] : cases) {
        SCOPED_TRACE(line.substr(0, 40));
        std::string answer = simulator.Control(line);
        EXPECT_EQ(answer.rfind("error: ", 0), 0u) << answer.substr(0, 200);
        EXPECT_EQ(answer.find('\n'), std::string::npos) << answer.substr(0, 200);
        EXPECT_LT(answer.size(), 400u);
        EXPECT_NE(answer.find(named.substr(0, 30)), std::string::npos) << answer.substr(0, 200);
    }
}

namespace {

// orvex-sim started in the background; stopped by the test through its pid.
pid_t Spawn(const std::vector<std::string>& arguments)
{
    const std::string path = BinaryFolder() + "/orvex-sim";
    std::vector<char*> argv { const_cast<char*>(path.c_str()) };
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    if (posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        child = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

bool Exists(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        usleep(10000);
    }
    return true;
}

} // namespace

TEST(BadInput, OrvexSimRemovesItsLinkAndSocketOnSigintAndSigterm)
{
    if (!Built("orvex-sim"))
        GTEST_SKIP() << "orvex-sim is not built";
    char folder[] = "/tmp/orvex-simfiles-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    for (int signal : { SIGINT, SIGTERM }) {
        SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
        const std::string link = std::string(folder) + "/tty";
        const std::string socket = std::string(folder) + "/control";
        pid_t child = Spawn({ "--link", link, "--control", socket });
        ASSERT_GT(child, 0);
        ASSERT_TRUE(WaitFor([&] { return Exists(link) && Exists(socket); }, 10s));
        struct stat info {};
        ASSERT_EQ(lstat(socket.c_str(), &info), 0);
        EXPECT_TRUE(S_ISSOCK(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0600u) << std::oct << (info.st_mode & 0777);
        ASSERT_EQ(lstat(link.c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode));
        kill(child, signal);
        int status = 0;
        const bool ended = WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 10s);
        if (!ended) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        EXPECT_TRUE(ended) << "orvex-sim did not end on the signal";
        EXPECT_FALSE(Exists(link)) << "the link was left behind";
        EXPECT_FALSE(Exists(socket)) << "the control socket was left behind";
    }
    std::system(("rm -rf '" + std::string(folder) + "'").c_str());
}

TEST(BadInput, OrvexSimNeverReplacesAFileItDidNotCreate)
{
    if (!Built("orvex-sim"))
        GTEST_SKIP() << "orvex-sim is not built";
    char folder[] = "/tmp/orvex-simfiles-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/precious";
    { int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644); ASSERT_GE(fd, 0); ASSERT_EQ(::write(fd, "keep", 4), 4); ::close(fd); }
    for (const char* option : { "--link", "--control" }) {
        SCOPED_TRACE(option);
        Outcome outcome = RunProgram("orvex-sim", { option, file });
        EXPECT_NE(outcome.status, 0);
        EXPECT_NE(outcome.err.find(file), std::string::npos) << outcome.err;
        EXPECT_EQ(Lines(outcome.err), 1) << outcome.err;
        struct stat info {};
        ASSERT_EQ(lstat(file.c_str(), &info), 0) << "the file was removed";
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_size, 4);
    }
    std::system(("rm -rf '" + std::string(folder) + "'").c_str());
}
