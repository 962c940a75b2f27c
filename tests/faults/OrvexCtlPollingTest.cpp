// orvexctl polling against orvex-sim, both as the technician runs them:
// the unit falls silent for a while through its control socket; orvexctl
// logs the time-outs, keeps polling and logs the unit again once it
// answers, and ends on time.
#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string text(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    return text.substr(0, text.rfind('/'));
}

// A program of this build in the background, its standard output to a pipe.
struct CChild {
    pid_t pid { -1 };
    int output { -1 };

    bool Start(const std::string& program, const std::vector<std::string>& arguments)
    {
        const std::string path = BinaryFolder() + "/" + program;
        std::vector<char*> argv { const_cast<char*>(path.c_str()) };
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        int pipeEnds[2];
        if (pipe2(pipeEnds, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
        bool started = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        output = pipeEnds[0];
        return started;
    }
    // Everything it writes until it ends or the time is up.
    std::string ReadUntilEnd(std::chrono::milliseconds timeout)
    {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry { output, POLLIN, 0 };
            if (::poll(&entry, 1, 100) <= 0)
                continue;
            char buffer[8192];
            ssize_t got = ::read(output, buffer, sizeof buffer);
            if (got <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }
    // Exit status, or -1 when it had to be killed.
    int Wait(std::chrono::milliseconds timeout)
    {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (waitpid(pid, &status, WNOHANG) != pid) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                pid = -1;
                return -1;
            }
            std::this_thread::sleep_for(20ms);
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~CChild()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            Wait(5s);
        }
        if (output >= 0)
            ::close(output);
    }
};

std::string Control(const std::string& socketPath, const std::string& line)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string text = line + "\n";
        if (::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size())) {
            char buffer[512];
            pollfd entry { fd, POLLIN, 0 };
            while (answer.find('\n') == std::string::npos && ::poll(&entry, 1, 3000) > 0) {
                ssize_t got = ::read(fd, buffer, sizeof buffer);
                if (got <= 0)
                    break;
                answer.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    ::close(fd);
    return answer;
}

bool Exists(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

} // namespace

TEST(OrvexCtlPolling, SilentUnitIsLoggedAndPollingResumesByItself)
{
    if (access((BinaryFolder() + "/orvexctl").c_str(), X_OK) != 0 || access((BinaryFolder() + "/orvex-sim").c_str(), X_OK) != 0)
        GTEST_SKIP() << "orvexctl or orvex-sim is not built";
    char folder[] = "/tmp/orvex-polling-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/tty";
    const std::string socket = std::string(folder) + "/control";
    {
        CChild simulator;
        ASSERT_TRUE(simulator.Start("orvex-sim", { "--link", link, "--control", socket, "--pace", "0.05" }));
        const auto ready = std::chrono::steady_clock::now() + 10s;
        while (!(Exists(link) && Exists(socket)) && std::chrono::steady_clock::now() < ready)
            std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(Exists(link) && Exists(socket));

        CChild ctl;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(ctl.Start("orvexctl", { "--port", link, "--address", "1", "polling", "--seconds", "9", "--reset-on-error" }));
        std::string output;
        std::thread reader([&] { output = ctl.ReadUntilEnd(30s); });
        std::this_thread::sleep_for(3s);
        EXPECT_EQ(Control(socket, "silent on").rfind("ok", 0), 0u);
        std::this_thread::sleep_for(3s);
        EXPECT_EQ(Control(socket, "silent off").rfind("ok", 0), 0u);
        const int status = ctl.Wait(25s);
        reader.join();
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(status, 0) << output.substr(output.size() > 2000 ? output.size() - 2000 : 0);
        EXPECT_LT(took, 20s) << "orvexctl polling did not end on time";
        const std::size_t timeout = output.rfind("<- Timeout");
        ASSERT_NE(timeout, std::string::npos) << "no time-out logged while the unit was silent";
        const std::size_t idle = output.find("<- IDLING", timeout);
        const std::size_t disabled = output.find("<- DISABLED", timeout);
        EXPECT_TRUE(idle != std::string::npos || disabled != std::string::npos)
            << "polling did not resume after the silence:\n" << output.substr(timeout, 2000);
    }
    std::system(("rm -rf '" + std::string(folder) + "'").c_str());
}
