#include "support/Ser2NetServer.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace orvex::test {

namespace {

// A port nobody listens on now, picked by the kernel.
int FreePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

const char* kProgram = "/usr/sbin/ser2net";

} // namespace

Ser2NetServer::Ser2NetServer()
{
    char pattern[] = "/tmp/orvex-ser2net-XXXXXX";
    m_folder = mkdtemp(pattern) ? pattern : "";
}

Ser2NetServer::~Ser2NetServer()
{
    Stop();
    if (!m_folder.empty()) {
        std::remove((m_folder + "/ser2net.yaml").c_str());
        std::remove((m_folder + "/ser2net.out").c_str());
        ::rmdir(m_folder.c_str());
    }
}

bool Ser2NetServer::Available()
{
    return ::access(kProgram, X_OK) == 0;
}

bool Ser2NetServer::Start(const std::string& device)
{
    Stop();
    m_device = device;
    if (m_rawPort == 0) {
        m_rawPort = FreePort();
        m_rfc2217Port = FreePort();
    }
    const std::string config = m_folder + "/ser2net.yaml";
    const std::string output = m_folder + "/ser2net.out";
    {
        // ser2net 4.3 reads only the repeated "connection: &name" form.
        // Without chardelay ser2net forwards what the unit sent at once
        // instead of waiting two characters' time for more.
        std::ofstream file(config);
        for (int kind = 0; kind < 2; ++kind) {
            file << "connection: &" << (kind == 0 ? "raw" : "rfc2217") << "\n"
                 << "  accepter: " << (kind == 0 ? "tcp" : "telnet(rfc2217),tcp") << ",127.0.0.1,"
                 << (kind == 0 ? m_rawPort : m_rfc2217Port) << "\n"
                 << "  connector: serialdev," << device << ",9600n81,local\n"
                 << "  options:\n"
                 << "    max-connections: 1\n"
                 << "    chardelay: false\n";
        }
    }
    std::remove(output.c_str());
    m_pid = fork();
    if (m_pid == 0) {
        int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        execl(kProgram, "ser2net", "-n", "-r", "-u", "-c", config.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (m_pid < 0) {
        m_error = "fork failed";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ReadFile(output).find("Ready") != std::string::npos)
            return true;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_error = "ser2net ended: " + ReadFile(output);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_error = "ser2net did not say Ready: " + ReadFile(output);
    Kill();
    return false;
}

void Ser2NetServer::End(int signal)
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, signal);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
}

void Ser2NetServer::Kill()
{
    End(SIGKILL);
}

void Ser2NetServer::Stop()
{
    End(SIGTERM);
}

} // namespace orvex::test
