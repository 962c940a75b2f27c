// The line going away under the host: a unit whose end of the line closes
// mid-reply, a device path that disappears (an adapter unplugged) and
// comes back, and paths that are no serial device at all.
#include "FaultHarness.h"
#include "link/CCOMPort.h"
#include "protocol/CKRMSProtocol.h"
#include "support/PtyPeer.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace orvex;
using namespace orvex::test;

namespace {

double ProcessSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A scratch folder removed with its contents at the end.
class CScratch {
public:
    CScratch()
    {
        char pattern[] = "/tmp/orvex-faults-XXXXXX";
        m_path = mkdtemp(pattern) ? pattern : "";
    }
    ~CScratch()
    {
        if (!m_path.empty())
            std::system(("rm -rf '" + m_path + "'").c_str());
    }
    std::string Path(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

} // namespace

TEST(LineLoss, PeerClosingMidReplyFailsTheExchangeAtOnce)
{
    PtyPeer peer;
    // Six header bytes announcing 40, then the line closes.
    peer.SetResponder([](const Bytes& frame) {
        if (frame.size() == 6 && (frame[3] == 0x00 || frame[3] == 0xFF))
            return PeerReply {};
        return PeerReply { Bytes { 0x02, 0x03, 40, 0x14, 0x00, 0x00 }, std::chrono::milliseconds(0), true };
    });
    CKRMSProtocol protocol(CPortTable(std::vector<std::string> { peer.SlavePath() }));
    protocol.SetIntercommandInterval(0);
    const int responseTimeout = 3000;
    ASSERT_NE(protocol.OpenPort(0, responseTimeout), 0);

    const auto start = std::chrono::steady_clock::now();
    const double cpuBefore = ProcessSeconds();
    EXPECT_FALSE(protocol.Poll(3));
    // The kernel may drop the header with the closing master: nothing read
    // or a short body, the exchange fails either way.
    EXPECT_TRUE(protocol.GetLastResultCode() == kDataError || protocol.GetLastResultCode() == kTimeout)
        << protocol.GetLastResultCode();
    // Far sooner than the body's 11 ms a byte plus 3 s: the hang-up ends the read.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);

    // Later commands on the dead line fail as fast, without spinning.
    const auto again = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(protocol.Poll(3));
        EXPECT_NE(protocol.GetLastResultCode(), 0);
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(std::chrono::steady_clock::now() - again, 5 * 1500ms);
    EXPECT_LT(ProcessSeconds() - cpuBefore, 0.5 + 0.5 * wall);
}

TEST(LineLoss, RemovedLinkNamesThePathAndTheReturningUnitReopens)
{
    CScratch scratch;
    const std::string link = scratch.Path("ttyORVEX0");
    auto first = std::make_unique<CSimulator>(FastUnit());
    ASSERT_FALSE(first->StartPty(link).empty()) << first->LastError();
    CKRMSProtocol protocol(CPortTable(std::vector<std::string> { link }));
    protocol.SetIntercommandInterval(0);
    ASSERT_NE(protocol.OpenPort(0, 200), 0);
    ASSERT_TRUE(Eventually([&] { return protocol.Poll(1); }, 5s));

    // Unplugged: the unit and its link go away.
    first->Stop();
    first.reset();
    struct stat info {};
    EXPECT_NE(lstat(link.c_str(), &info), 0) << "the simulator left its link behind";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(protocol.Poll(1));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(protocol.OpenPort(0, 200), 0);
    const std::string message = protocol.GetPort()->DescribePortError(0);
    EXPECT_NE(message.find(link), std::string::npos) << message;
    EXPECT_NE(message.find("No such file or directory"), std::string::npos) << message;

    // Plugged in again on the same path: reopening works.
    CSimulator second(FastUnit());
    ASSERT_FALSE(second.StartPty(link).empty()) << second.LastError();
    EXPECT_NE(protocol.OpenPort(0, 200), 0) << protocol.GetPort()->DescribePortError(0);
    EXPECT_TRUE(Eventually([&] { return protocol.Poll(1); }, 5s));
    second.Stop();
}

TEST(LineLoss, PathsThatAreNoSerialDeviceAreRefusedAndNeverWritten)
{
    CScratch scratch;
    const std::string file = scratch.Path("plain-file");
    const std::string folder = scratch.Path("folder");
    { int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644); ASSERT_GE(fd, 0); ::close(fd); }
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::vector<std::string> paths { "/dev/null", file, folder, scratch.Path("missing") };
    CKRMSProtocol protocol{ CPortTable(paths) };
    protocol.SetIntercommandInterval(0);
    for (int slot = 0; slot < static_cast<int>(paths.size()); ++slot) {
        SCOPED_TRACE(paths[static_cast<std::size_t>(slot)]);
        EXPECT_NE(protocol.GetPortError(slot), 0);
        EXPECT_EQ(protocol.OpenPort(slot, 200), 0);
        const std::string message = protocol.GetPort()->DescribePortError(slot);
        EXPECT_EQ(message.rfind(paths[static_cast<std::size_t>(slot)] + ": ", 0), 0u) << message;
        EXPECT_GT(message.size(), paths[static_cast<std::size_t>(slot)].size() + 2) << message;
        EXPECT_FALSE(protocol.Poll(1));
    }
    EXPECT_NE(protocol.GetPort()->DescribePortError(0).find("not a serial device"), std::string::npos)
        << protocol.GetPort()->DescribePortError(0);
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0) << "bytes were written to a regular file";
}

TEST(LineLoss, ThePortIsNotHandedToProgramsStartedLater)
{
    PtyPeer peer;
    CKRMSProtocol protocol(CPortTable(std::vector<std::string> { peer.SlavePath() }));
    ASSERT_NE(protocol.OpenPort(0, 200), 0);
    const int handle = protocol.GetPort()->GetHandle();
    ASSERT_GE(handle, 0);
    EXPECT_NE(fcntl(handle, F_GETFD) & FD_CLOEXEC, 0) << "the port would leak into a child program";
}
