#include "link/CPtyPair.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace orvex {

CPtyPair::~CPtyPair()
{
    Close();
}

int CPtyPair::Fail(const std::string& what, int error)
{
    m_error = what + ": " + std::strerror(error);
    Close();
    return error;
}

int CPtyPair::Open()
{
    Close();
    m_error.clear();
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return Fail("posix_openpt", errno);
    char name[128] {};
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 || ptsname_r(m_master, name, sizeof name) != 0)
        return Fail("pseudo-terminal", errno);
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0)
        return Fail(name, errno);
    termios settings {};
    if (tcgetattr(m_slave, &settings) == 0) {
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        tcsetattr(m_slave, TCSANOW, &settings);
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = name;
    return 0;
}

int CPtyPair::Link(const std::string& path)
{
    if (m_master < 0)
        return Fail(path, EBADF);
    struct stat existing {};
    int found = lstat(path.c_str(), &existing);
    if (found == 0) {
        m_error = path + ": a file exists there already";
        return EEXIST;
    }
    if (errno != ENOENT || symlink(m_slavePath.c_str(), path.c_str()) != 0) {
        int error = errno;
        m_error = path + ": " + std::strerror(error);
        return error;
    }
    m_linkPath = path;
    return 0;
}

void CPtyPair::Close()
{
    if (!m_linkPath.empty()) {
        // Only our own link: something else may have replaced it meanwhile.
        char target[256] {};
        ssize_t length = readlink(m_linkPath.c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == m_slavePath)
            ::unlink(m_linkPath.c_str());
        m_linkPath.clear();
    }
    for (int* end : { &m_slave, &m_master }) {
        if (*end >= 0)
            ::close(*end);
        *end = -1;
    }
}

int CPtyPair::ReleaseMaster()
{
    int master = m_master;
    m_master = -1;
    return master;
}

int CPtyPair::ReleaseSlave()
{
    int slave = m_slave;
    m_slave = -1;
    return slave;
}

} // namespace orvex
