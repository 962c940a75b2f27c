#include "device/CKRMSInterface.h"
#include "link/CPortTable.h"
#include "sim/CSimulator.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace orvex::test {
namespace {

using namespace std::chrono_literals;

// A fresh directory for the files one test makes; removed afterwards.
class ScratchDirectory {
public:
    ScratchDirectory()
    {
        char pattern[] = "/tmp/orvex-sim-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made ? made : "";
    }
    ~ScratchDirectory()
    {
        if (!path.empty())
            std::system(("rm -rf '" + path + "'").c_str());
    }
    std::string File(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

bool Exists(const std::string& path)
{
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

// Sends one line to a Unix socket and reads the one answer line.
std::string Ask(const std::string& socketPath, const std::string& line)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return "connect failed";
    }
    std::string request = line + "\n";
    [[maybe_unused]] ssize_t put = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    auto deadline = std::chrono::steady_clock::now() + 3s;
    while (answer.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd entry { fd, POLLIN, 0 };
        if (::poll(&entry, 1, 100) <= 0)
            continue;
        char buffer[512];
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return answer.substr(0, answer.find('\n'));
}

// ---- The in-process server ---------------------------------------------------

TEST(SimServer, LinkPointsAtTheSlaveAndGoesAwayOnStop)
{
    ScratchDirectory scratch;
    std::string link = scratch.File("cy");
    CSimulator simulator;
    std::string slave = simulator.StartPty(link);
    ASSERT_FALSE(slave.empty()) << simulator.LastError();
    char target[256] {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), slave);
    simulator.Stop();
    EXPECT_FALSE(Exists(link));
}

TEST(SimServer, NeverReplacesAFileAtTheLinkPath)
{
    ScratchDirectory scratch;
    std::string path = scratch.File("taken");
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("keep me\n", file);
    std::fclose(file);
    CSimulator simulator;
    EXPECT_TRUE(simulator.StartPty(path).empty());
    EXPECT_EQ(simulator.LastError(), path + ": a file exists there already");
    simulator.Stop();
    struct stat status {};
    ASSERT_EQ(lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_size, 8);
}

TEST(SimServer, ControlSocketIsPrivateAndAnswersOneLine)
{
    ScratchDirectory scratch;
    std::string socketPath = scratch.File("control");
    CSimulator simulator;
    ASSERT_FALSE(simulator.StartPty().empty());
    ASSERT_EQ(simulator.StartControl(socketPath), 0) << simulator.LastError();
    struct stat status {};
    ASSERT_EQ(lstat(socketPath.c_str(), &status), 0);
    EXPECT_TRUE(S_ISSOCK(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(Ask(socketPath, "state").rfind("ok: POWER UP", 0), 0u);
    EXPECT_EQ(Ask(socketPath, "wiggle"), "error: wiggle: unknown command (try help)");
    simulator.Stop();
    EXPECT_FALSE(Exists(socketPath));
}

TEST(SimServer, ControlSocketRefusesAnExistingPath)
{
    ScratchDirectory scratch;
    std::string socketPath = scratch.File("control");
    CSimulator first;
    ASSERT_EQ(first.StartControl(socketPath), 0);
    CSimulator second;
    EXPECT_EQ(second.StartControl(socketPath), EEXIST);
    second.Stop();
    EXPECT_TRUE(Exists(socketPath)) << "the other simulator's socket stays";
    first.Stop();
    EXPECT_FALSE(Exists(socketPath));
}

TEST(SimServer, BadBillTableRefusesToStart)
{
    SimOptions options;
    options.bills = "USD:1,two";
    CSimulator simulator(options);
    EXPECT_TRUE(simulator.StartPty().empty());
    EXPECT_NE(simulator.LastError().find("'two'"), std::string::npos) << simulator.LastError();
}

TEST(SimServer, HostMayCloseAndReopenItsPort)
{
    SimOptions options;
    options.pace = 0.02;
    CSimulator simulator(options);
    std::string slave = simulator.StartPty();
    ASSERT_FALSE(slave.empty());
    for (int round = 0; round < 3; ++round) {
        CKRMSInterface device { CPortTable({ slave }) };
        ASSERT_NE(device.OpenPort(0, 200), 0) << "round " << round;
        device.SetIntercommandInterval(0);
        int state = 0;
        int sub = 0;
        EXPECT_EQ(device.Poll(state, sub, 1), 0) << "round " << round;
        EXPECT_EQ(state, 0x10);
    }
    EXPECT_EQ(simulator.ExchangesAnswered(), 3u);
}

// ---- The program ---------------------------------------------------------------

std::string ProgramPath()
{
    char self[4096] {};
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, length > 0 ? static_cast<std::size_t>(length) : 0);
    return path.substr(0, path.rfind('/') + 1) + "orvex-sim";
}

struct ProgramRun {
    int status { -1 };
    std::string output;
    std::string errors;
};

// Runs orvex-sim with arguments and standard input, bounded to 10 s.
ProgramRun RunProgram(const std::string& arguments, const std::string& input = {})
{
    ScratchDirectory scratch;
    std::string out = scratch.File("out");
    std::string err = scratch.File("err");
    std::string in = scratch.File("in");
    std::FILE* file = std::fopen(in.c_str(), "w");
    std::fputs(input.c_str(), file);
    std::fclose(file);
    std::string command = "timeout -s KILL 10 '" + ProgramPath() + "' " + arguments + " <'" + in + "' >'" + out + "' 2>'" + err + "'";
    ProgramRun run;
    int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    auto slurp = [](const std::string& path) {
        std::string text;
        if (std::FILE* source = std::fopen(path.c_str(), "r")) {
            char buffer[4096];
            std::size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, source)) > 0)
                text.append(buffer, got);
            std::fclose(source);
        }
        return text;
    };
    run.output = slurp(out);
    run.errors = slurp(err);
    return run;
}

class SimProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (access(ProgramPath().c_str(), X_OK) != 0)
            GTEST_SKIP() << ProgramPath() << " is not built";
    }
};

TEST_F(SimProgram, HelpListsOptionsAndCommands)
{
    ProgramRun run = RunProgram("--help");
    EXPECT_EQ(run.status, 0);
    for (const char* word : { "--pty", "--link", "--port", "--baud", "--device", "--card-reader", "--bills", "--pace",
             "--clock-offset", "--control", "insert TYPE", "insert-barcode", "power-cut", "silent on|off", "fail CODE", "quit" })
        EXPECT_NE(run.output.find(word), std::string::npos) << word;
}

TEST_F(SimProgram, BadOptionsExitTwoNamingTheWord)
{
    ProgramRun unknown = RunProgram("--frobnicate");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.errors.find("--frobnicate: unknown option"), std::string::npos) << unknown.errors;
    ProgramRun value = RunProgram("--baud 4800 --port /dev/null");
    EXPECT_EQ(value.status, 2);
    EXPECT_NE(value.errors.find("'4800'"), std::string::npos) << value.errors;
    ProgramRun missing = RunProgram("--pace");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.errors.find("--pace: missing value"), std::string::npos);
    ProgramRun device = RunProgram("--device xx");
    EXPECT_EQ(device.status, 2);
    EXPECT_NE(device.errors.find("'xx'"), std::string::npos);
}

TEST_F(SimProgram, PrintsTheSlaveFirstAndAnswersEveryLine)
{
    ProgramRun run = RunProgram("--pace 0.01", "state\nbogus\n\ninsert 1\nquit\n");
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.output.rfind("/dev/pts/", 0), 0u) << run.output;
    std::size_t lines = 0;
    for (char c : run.output)
        lines += c == '\n';
    EXPECT_EQ(lines, 5u) << run.output; // path, state, bogus, insert, quit
    EXPECT_NE(run.output.find("error: bogus: unknown command"), std::string::npos);
    EXPECT_NE(run.output.find("ok: quit"), std::string::npos);
}

TEST_F(SimProgram, SigtermRemovesTheLink)
{
    ScratchDirectory scratch;
    std::string link = scratch.File("cy");
    std::string command = ProgramPath();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int null = ::open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        execl(command.c_str(), command.c_str(), "--link", link.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!Exists(link) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(Exists(link));
    kill(child, SIGTERM);
    int status = 0;
    pid_t ended = 0;
    while (ended == 0 && std::chrono::steady_clock::now() < deadline + 5s) {
        ended = waitpid(child, &status, WNOHANG);
        if (ended == 0)
            std::this_thread::sleep_for(10ms);
    }
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "orvex-sim did not end on SIGTERM";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(Exists(link));
}

} // namespace
} // namespace orvex::test
