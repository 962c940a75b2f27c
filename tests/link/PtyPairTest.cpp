// The pseudo-terminal pair every far end of a test line is made from.

#include "link/CPtyPair.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace orvex;

namespace {

// Whatever arrives on `fd` within `milliseconds`.
std::string Drain(int fd, int milliseconds)
{
    std::string got;
    pollfd entry { fd, POLLIN, 0 };
    while (::poll(&entry, 1, milliseconds) > 0) {
        char buffer[64];
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(count));
    }
    return got;
}

} // namespace

TEST(PtyPair, BytesPassUntouchedBothWaysWithNoEcho)
{
    CPtyPair pair;
    ASSERT_EQ(pair.Open(), 0) << pair.Error();
    // Bytes a cooked line would translate, swallow or turn into signals.
    const std::string bytes { "\x02\r\n\x03\x04\x11\x13\x7F\xFF", 9 };
    ASSERT_EQ(::write(pair.Master(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    EXPECT_EQ(Drain(pair.Slave(), 200), bytes);
    ASSERT_EQ(::write(pair.Slave(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    EXPECT_EQ(Drain(pair.Master(), 200), bytes) << "echoed or translated";
}

TEST(PtyPair, TheLinkGoesOnlyWhereNothingIsAndOnlyOursIsRemoved)
{
    char folder[] = "/tmp/orvex-ptypair-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/unit";
    const std::string taken = std::string(folder) + "/taken";
    ASSERT_EQ(::close(::creat(taken.c_str(), 0600)), 0);

    CPtyPair pair;
    ASSERT_EQ(pair.Open(), 0) << pair.Error();
    EXPECT_EQ(pair.Link(taken), EEXIST);
    EXPECT_EQ(pair.Error(), taken + ": a file exists there already");
    EXPECT_EQ(pair.Link(std::string(folder) + "/missing/unit"), ENOENT);
    ASSERT_EQ(pair.Link(link), 0) << pair.Error();
    char target[256] {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(pair.SlavePath(), target);
    pair.Close();
    struct stat info {};
    EXPECT_NE(lstat(link.c_str(), &info), 0) << "the link outlived the pair";
    EXPECT_EQ(lstat(taken.c_str(), &info), 0) << "a file that was there is gone";

    // A link replaced by someone else meanwhile is theirs.
    ASSERT_EQ(pair.Open(), 0);
    ASSERT_EQ(pair.Link(link), 0);
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
    pair.Close();
    EXPECT_EQ(lstat(link.c_str(), &info), 0);
    std::system(("rm -rf '" + std::string(folder) + "'").c_str());
}
