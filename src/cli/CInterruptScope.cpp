#include "cli/CInterruptScope.h"

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace orvex {

namespace {

std::atomic<std::atomic<int>*> g_interruptFlag { nullptr };
// The read end's partner for the signal handler: a byte written there wakes
// the main thread's one long wait, whichever thread the signal reached.
std::atomic<int> g_interruptWake { -1 };

extern "C" void OnInterrupt(int)
{
    if (std::atomic<int>* flag = g_interruptFlag.load())
        flag->store(1);
    const int fd = g_interruptWake.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t put = ::write(fd, &byte, 1);
    }
}

} // namespace

CInterruptScope::CInterruptScope(std::atomic<int>& flag)
    : m_flag(flag)
{
    m_flag.store(0);
    g_interruptFlag.store(&m_flag);
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
    g_interruptWake.store(m_wake[1]);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_previousInterrupt);
    sigaction(SIGTERM, &action, &m_previousTerminate);
}

CInterruptScope::~CInterruptScope()
{
    sigaction(SIGINT, &m_previousInterrupt, nullptr);
    sigaction(SIGTERM, &m_previousTerminate, nullptr);
    g_interruptWake.store(-1);
    for (int fd : m_wake)
        if (fd >= 0)
            ::close(fd);
}

void CInterruptScope::Wait(const std::optional<std::chrono::steady_clock::time_point>& deadline) const
{
    while (m_flag.load() == 0) {
        timespec left {};
        timespec* timeout = nullptr;
        if (deadline) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= *deadline)
                return;
            const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(*deadline - now).count();
            left.tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
            left.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
            timeout = &left;
        }
        if (m_wake[0] >= 0) {
            pollfd entry { m_wake[0], POLLIN, 0 };
            ppoll(&entry, 1, timeout, nullptr);
            continue;
        }
        // Without the pipe, the flag is looked at ten times a second.
        timespec slice { 0, 100000000 };
        if (timeout && left.tv_sec == 0 && left.tv_nsec < slice.tv_nsec)
            slice = left;
        nanosleep(&slice, nullptr);
    }
}

} // namespace orvex
