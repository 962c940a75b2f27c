#include "sim/CSimulator.h"

#include "link/CPtyPair.h"
#include "link/CSerialLine.h"
#include "link/CTtyLine.h"
#include "link/LineMode.h"
#include "sim/CSimDevice.h"
#include "sim/SimControl.h"
#include "sim/SimFrameParser.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace orvex {

namespace {

using Clock = std::chrono::steady_clock;

std::string SystemError(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

// The threads look at the stop flag at least this often.
constexpr int kTurnMilliseconds = 10;

} // namespace

CSimulator::CSimulator(SimOptions options)
    : m_device(std::make_unique<CSimDevice>(options, Clock::now()))
{
}

CSimulator::~CSimulator()
{
    Stop();
}

std::string CSimulator::LastError() const
{
    return m_lastError;
}

std::string CSimulator::StartPty(const std::string& linkPath)
{
    if (m_running) {
        m_lastError = "the simulator is already serving " + m_slavePath;
        return {};
    }
    if (!m_device->SetupError().empty()) {
        m_lastError = m_device->SetupError();
        return {};
    }
    if (m_pty.Open() != 0 || (!linkPath.empty() && m_pty.Link(linkPath) != 0)) {
        m_lastError = m_pty.Error();
        m_pty.Close();
        return {};
    }
    auto line = std::make_unique<CTtyLine>();
    line->Adopt(m_pty.ReleaseMaster());
    m_line = std::move(line);
    m_slavePath = m_pty.SlavePath();
    std::string error;
    if (!StartThreads(error)) {
        m_lastError = error;
        CloseAll();
        return {};
    }
    return m_slavePath;
}

int CSimulator::StartPort(const std::string& path, int baud)
{
    if (m_running) {
        m_lastError = "the simulator is already serving " + m_slavePath;
        return EBUSY;
    }
    if (!m_device->SetupError().empty()) {
        m_lastError = m_device->SetupError();
        return EINVAL;
    }
    if (baud != 9600 && baud != 19200) {
        m_lastError = path + ": " + std::to_string(baud) + " baud: the bus runs at 9600 or 19200";
        return EINVAL;
    }
    auto line = MakeSerialLine(path);
    int error = line->Open(path);
    if (error == 0) {
        LineMode mode;
        mode.baud = baud;
        error = line->Configure(mode);
    }
    if (error != 0) {
        m_lastError = SystemError(path, error);
        return error;
    }
    m_line = std::move(line);
    m_slavePath = path;
    std::string failure;
    if (!StartThreads(failure)) {
        m_lastError = failure;
        CloseAll();
        return EAGAIN;
    }
    return 0;
}

bool CSimulator::StartThreads(std::string& error)
{
    if (m_wakePipe[0] < 0 && pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = SystemError("pipe", errno);
        return false;
    }
    m_stop = false;
    m_running = true;
    m_lineThread = std::thread([this] { ServeLine(); });
    return true;
}

int CSimulator::StartControl(const std::string& socketPath)
{
    if (m_controlFd >= 0) {
        m_lastError = socketPath + ": control socket already open at " + m_controlPath;
        return EBUSY;
    }
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
        m_lastError = socketPath + ": path too long for a Unix socket";
        return ENAMETOOLONG;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    // Never take over a path that something else owns, not even an old socket.
    struct stat existing {};
    if (lstat(socketPath.c_str(), &existing) == 0) {
        m_lastError = socketPath + ": a file exists there already";
        return EEXIST;
    }
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0) {
        m_lastError = SystemError("socket", errno);
        return errno;
    }
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int error = errno;
        m_lastError = SystemError(socketPath, error);
        ::close(listener);
        return error;
    }
    // No one can connect before listen(), so the mode is set in time.
    struct stat made {};
    if (chmod(socketPath.c_str(), 0600) != 0 || lstat(socketPath.c_str(), &made) != 0 || ::listen(listener, 4) != 0) {
        int error = errno;
        m_lastError = SystemError(socketPath, error);
        ::close(listener);
        ::unlink(socketPath.c_str());
        return error;
    }
    m_controlDevice = static_cast<unsigned long>(made.st_dev);
    m_controlInode = static_cast<unsigned long>(made.st_ino);
    m_ownsControl = true;
    m_controlPath = socketPath;
    if (m_wakePipe[0] < 0 && pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_lastError = SystemError("pipe", errno);
        ::close(listener);
        ::unlink(socketPath.c_str());
        m_ownsControl = false;
        return EMFILE;
    }
    m_controlFd = listener;
    m_controlThread = std::thread([this] { ServeControl(); });
    return 0;
}

void CSimulator::Stop()
{
    m_stop = true;
    if (m_wakePipe[1] >= 0) {
        // Left unread: both threads see it on their next poll.
        std::uint8_t byte = 1;
        [[maybe_unused]] ssize_t put = ::write(m_wakePipe[1], &byte, 1);
    }
    if (m_lineThread.joinable())
        m_lineThread.join();
    if (m_controlThread.joinable())
        m_controlThread.join();
    CloseAll();
    m_running = false;
}

void CSimulator::CloseAll()
{
    if (m_line) {
        m_line->Close();
        m_line.reset();
    }
    m_pty.Close();
    if (m_controlFd >= 0)
        ::close(m_controlFd);
    m_controlFd = -1;
    if (m_ownsControl) {
        struct stat now {};
        if (lstat(m_controlPath.c_str(), &now) == 0 && static_cast<unsigned long>(now.st_dev) == m_controlDevice
            && static_cast<unsigned long>(now.st_ino) == m_controlInode)
            ::unlink(m_controlPath.c_str());
        m_ownsControl = false;
    }
    for (int& end : m_wakePipe) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void CSimulator::WriteReply(const std::uint8_t* bytes, std::size_t count)
{
    if (m_tap)
        m_tap->OnBytes(TapDirection::Written, WallClockNanoseconds(), { bytes, count });
    // When nobody reads the line by then, the reply is lost as on a wire.
    auto deadline = Clock::now() + std::chrono::milliseconds(200 + count * 2);
    m_line->WriteAll(bytes, static_cast<int>(count), deadline);
}

void CSimulator::ServeLine()
{
    CSimFrameParser parser;
    std::uint64_t noiseSeen = 0;
    std::vector<std::uint8_t> chunk(4096);
    while (!m_stop) {
        pollfd entries[2] = { { m_line->Handle(), POLLIN, 0 }, { m_wakePipe[0], POLLIN, 0 } };
        int ready = ::poll(entries, 2, kTurnMilliseconds);
        if (m_stop)
            break;
        Clock::time_point now = Clock::now();
        if (ready > 0 && (entries[0].revents & POLLIN)) {
            // Whatever has come: the deadline is now.
            LineResult result = m_line->ReadAll(chunk.data(), static_cast<int>(chunk.size()), now);
            const std::size_t got = static_cast<std::size_t>(result.transferred);
            if (got > 0 && m_tap)
                m_tap->OnBytes(TapDirection::Read, WallClockNanoseconds(), { chunk.data(), got });
            if (IsLineGone(result.fault) && got == 0) {
                // A serial adapter that went away: keep trying without spinning.
                std::this_thread::sleep_for(std::chrono::milliseconds(kTurnMilliseconds));
            } else if (got > 0) {
                auto frames = parser.Feed(chunk.data(), got, now);
                for (const SimBytes& frame : frames) {
                    if (m_frameObserver)
                        m_frameObserver(frame.data(), frame.size(), now);
                    SimBytes reply;
                    if (m_responder) {
                        reply = m_responder(frame);
                    } else {
                        std::lock_guard lock(m_mutex);
                        reply = m_device->HandleFrame(frame, now);
                    }
                    if (!reply.empty())
                        WriteReply(reply.data(), reply.size());
                }
            }
        } else if (ready > 0 && (entries[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            // A serial adapter that went away: keep trying without spinning.
            std::this_thread::sleep_for(std::chrono::milliseconds(kTurnMilliseconds));
        }
        parser.Idle(now);
        if (parser.SkippedBytes() != noiseSeen) {
            m_noiseBytes += parser.SkippedBytes() - noiseSeen;
            noiseSeen = parser.SkippedBytes();
        }
        std::lock_guard lock(m_mutex);
        m_device->Advance(now);
    }
}

void CSimulator::ServeControl()
{
    struct Client {
        int fd;
        std::string pending;
    };
    std::vector<Client> clients;
    constexpr std::size_t kMaxClients = 8;
    while (!m_stop) {
        std::vector<pollfd> entries;
        entries.push_back({ m_wakePipe[0], POLLIN, 0 });
        entries.push_back({ m_controlFd, POLLIN, 0 });
        for (const Client& client : clients)
            entries.push_back({ client.fd, POLLIN, 0 });
        int ready = ::poll(entries.data(), entries.size(), 50);
        if (m_stop || ready <= 0)
            continue;
        if (entries[1].revents & POLLIN) {
            int fd = ::accept4(m_controlFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) {
                if (clients.size() >= kMaxClients) {
                    const char busy[] = "error: control: too many connections\n";
                    [[maybe_unused]] ssize_t put = ::send(fd, busy, sizeof busy - 1, MSG_NOSIGNAL);
                    ::close(fd);
                } else {
                    clients.push_back({ fd, {} });
                }
            }
        }
        // Only the clients that were polled; one accepted just now waits
        // for the next turn.
        std::size_t polled = entries.size() - 2;
        for (std::size_t index = 0; index < polled; ++index) {
            pollfd& entry = entries[index + 2];
            if (entry.revents == 0)
                continue;
            Client& client = clients[index];
            char buffer[512];
            ssize_t got = ::recv(client.fd, buffer, sizeof buffer, 0);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                ::close(client.fd);
                client.fd = -1;
                continue;
            }
            if (got < 0)
                continue;
            client.pending.append(buffer, static_cast<std::size_t>(got));
            std::size_t end;
            while ((end = client.pending.find('\n')) != std::string::npos) {
                std::string line = client.pending.substr(0, end);
                client.pending.erase(0, end + 1);
                std::string answer = Control(line);
                if (answer.empty())
                    continue;
                answer += '\n';
                // A client that does not read its answers loses them.
                [[maybe_unused]] ssize_t put = ::send(client.fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            }
            if (client.pending.size() > kSimMaxControlLine) {
                std::string answer = Control(client.pending) + "\n";
                [[maybe_unused]] ssize_t put = ::send(client.fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                client.pending.clear();
            }
        }
        std::erase_if(clients, [](const Client& client) { return client.fd < 0; });
    }
    for (const Client& client : clients)
        ::close(client.fd);
}

std::string CSimulator::Control(const std::string& commandLine)
{
    SimControlParse parse = ParseControlLine(commandLine);
    if (!parse.ok)
        return parse.error;
    if (parse.empty)
        return {};
    std::string answer;
    {
        std::lock_guard lock(m_mutex);
        answer = m_device->Control(parse.command, Clock::now());
    }
    if (parse.command.verb == SimControlVerb::Quit)
        m_quit = true;
    return answer;
}

SimSnapshot CSimulator::Snapshot() const
{
    std::lock_guard lock(m_mutex);
    SimSnapshot snapshot = m_device->Snapshot(Clock::now());
    snapshot.noiseBytes = m_noiseBytes.load();
    return snapshot;
}

std::uint64_t CSimulator::ExchangesAnswered() const
{
    return Snapshot().exchangesAnswered;
}

} // namespace orvex
