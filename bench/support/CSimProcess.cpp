#include "support/CSimProcess.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace orvex {

CSimProcess::~CSimProcess()
{
    Stop();
}

std::string CSimProcess::BesideThisProgram(const std::string& name)
{
    char path[PATH_MAX] {};
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return name;
    std::string self(path, static_cast<std::size_t>(length));
    auto slash = self.rfind('/');
    return slash == std::string::npos ? name : self.substr(0, slash + 1) + name;
}

bool CSimProcess::Start(const std::string& program, const std::vector<std::string>& arguments)
{
    Stop();
    // Standard output goes to an unlinked file, which never fills up and
    // blocks the simulator; standard input is a pipe that stays open and
    // silent, so the simulator never reads end of file.
    char outputPath[] = "/tmp/orvex-bench-sim-XXXXXX";
    int outputWrite = mkostemp(outputPath, O_CLOEXEC);
    if (outputWrite < 0) {
        m_error = std::string("mkostemp: ") + std::strerror(errno);
        return false;
    }
    m_output = ::open(outputPath, O_RDONLY | O_CLOEXEC);
    unlink(outputPath);
    int inputFds[2] { -1, -1 };
    if (m_output < 0 || pipe2(inputFds, O_CLOEXEC) != 0) {
        m_error = std::string("orvex-sim output or input: ") + std::strerror(errno);
        ::close(outputWrite);
        Stop();
        return false;
    }
    m_input = inputFds[1];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outputWrite, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, inputFds[0], STDIN_FILENO);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int error = posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outputWrite);
    ::close(inputFds[0]);
    if (error != 0) {
        m_pid = -1;
        m_error = program + ": " + std::strerror(error);
        Stop();
        return false;
    }

    // The first line is the slave path.
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (line.find('\n') == std::string::npos) {
        char chunk[256];
        ssize_t got = ::read(m_output, chunk, sizeof chunk);
        if (got > 0) {
            line.append(chunk, static_cast<std::size_t>(got));
            continue;
        }
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_error = program + ": ended before it printed the slave path";
            Stop();
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            m_error = program + ": no slave path within 5 s";
            Stop();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_slavePath = line.substr(0, line.find('\n'));
    m_unread = line.substr(line.find('\n') + 1);
    return true;
}

std::string CSimProcess::Ask(const std::string& line, const std::string& expected)
{
    if (m_input < 0)
        return {};
    std::string text = line + "\n";
    if (::write(m_input, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        return {};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        for (auto end = m_unread.find('\n'); end != std::string::npos; end = m_unread.find('\n')) {
            std::string answer = m_unread.substr(0, end);
            m_unread.erase(0, end + 1);
            if (answer.find(expected) != std::string::npos)
                return answer;
        }
        char chunk[512];
        ssize_t got = ::read(m_output, chunk, sizeof chunk);
        if (got > 0) {
            m_unread.append(chunk, static_cast<std::size_t>(got));
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return {};
        // The output is a file: its end is only where the simulator has got to.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void CSimProcess::Stop()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_pid = -1;
    }
    for (int* fd : { &m_output, &m_input }) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_slavePath.clear();
    m_unread.clear();
}

} // namespace orvex
