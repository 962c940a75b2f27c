#include "link/CCOMPort.h"

#include "support/PtyPeer.h"
#include "support/Technician.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using namespace orvex;
using namespace orvex::test;
using namespace std::chrono_literals;

namespace {

constexpr const char* kChildVariable = "ORVEX_TEST_UNPRIVILEGED_PORT";

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
    TechnicianAccount account {};
    std::string reason;
    if (!EnsureTechnician(account, reason))
        GTEST_SKIP() << reason;

    PtyPeer peer;
    // The technician reaches serial devices through the dialout group.
    ASSERT_EQ(chown(peer.SlavePath().c_str(), 0, account.dialout), 0);
    ASSERT_EQ(chmod(peer.SlavePath().c_str(), 0660), 0);

    const int code = RunSelfAsTechnician(account, "UnprivilegedPort.ChildOpensClosesAndReopens",
        { std::string(kChildVariable) + "=" + peer.SlavePath() }, 30s);
    if (code == kCouldNotStart)
        GTEST_SKIP() << "the test program cannot be run as " << kTechnician;
    EXPECT_EQ(code, 0) << "open, close and reopen as " << kTechnician << " failed";
}
