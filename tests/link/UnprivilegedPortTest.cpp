#include "link/CCOMPort.h"

#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace orvex;
using namespace orvex::test;
using namespace std::chrono_literals;

namespace {

constexpr const char* kUser = "orvex-technician";
constexpr const char* kChildVariable = "ORVEX_TEST_UNPRIVILEGED_PORT";
constexpr int kCouldNotStart = 77;

// Waits for the child at most `limit`; a child still running then is
// stopped by its own id.
int WaitForChild(pid_t child, std::chrono::seconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

// Runs inside the child, as the technician; skipped in an ordinary run.
TEST(UnprivilegedPort, ChildOpensClosesAndReopens)
{
    const char* path = std::getenv(kChildVariable);
    if (!path)
        GTEST_SKIP() << "runs only inside UnprivilegedPort.TechnicianCanReopenAPty";
    ASSERT_NE(getuid(), 0u);
    CCOMPort port(CPortTable({ path }));
    ASSERT_EQ(port.GetPortError(0), 0) << port.DescribePortError(0);
    ASSERT_TRUE(port.Open(0, "9600,n,8,1", 50)) << port.DescribePortError(0);
    port.Close();
    ASSERT_TRUE(port.Open(0, "19200,n,8,1", 50)) << port.DescribePortError(0);
    ASSERT_TRUE(port.Open(0, "9600,n,8,1", 50)) << port.DescribePortError(0);
    const std::uint8_t poll[] { 0x02, 0x03, 0x06, 0x33, 0xDA, 0x81 };
    EXPECT_TRUE(port.Write(poll, 6));
}

TEST(UnprivilegedPort, TechnicianCanReopenAPty)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to create the technician's account";
    if (!getpwnam(kUser)) {
        std::string command = std::string("useradd --system --no-create-home --shell /usr/sbin/nologin --groups dialout ") + kUser + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0 || !getpwnam(kUser))
            GTEST_SKIP() << "useradd failed";
    }
    passwd* user = getpwnam(kUser);
    uid_t uid = user->pw_uid;
    gid_t gid = user->pw_gid;
    group* dialout = getgrnam("dialout");
    gid_t dialoutGid = dialout ? dialout->gr_gid : gid;

    PtyPeer peer;
    // The technician reaches serial devices through the dialout group.
    ASSERT_EQ(chown(peer.SlavePath().c_str(), 0, dialoutGid), 0);
    ASSERT_EQ(chmod(peer.SlavePath().c_str(), 0660), 0);

    char self[4096];
    ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(size, 0);
    self[size] = 0;
    std::string variable = std::string(kChildVariable) + "=" + peer.SlavePath();
    char filter[] = "--gtest_filter=UnprivilegedPort.ChildOpensClosesAndReopens";
    char* arguments[] { self, filter, nullptr };
    char* environment[] { variable.data(), nullptr };

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        gid_t groups[] { dialoutGid };
        if (setgroups(1, groups) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
            _exit(kCouldNotStart);
        execve(self, arguments, environment);
        _exit(kCouldNotStart);
    }
    int code = WaitForChild(child, 30s);
    if (code == kCouldNotStart)
        GTEST_SKIP() << "the test program cannot be run as " << kUser;
    EXPECT_EQ(code, 0) << "open, close and reopen as " << kUser << " failed";
}
