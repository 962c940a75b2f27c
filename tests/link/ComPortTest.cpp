#include "link/CCOMPort.h"

#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace orvex;
using namespace orvex::test;
using namespace std::chrono_literals;

namespace {

const Bytes kPoll { 0x02, 0x03, 0x06, 0x33, 0xDA, 0x81 };

std::chrono::milliseconds Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

termios SettingsOf(const CCOMPort& port)
{
    termios settings {};
    tcgetattr(port.GetHandle(), &settings);
    return settings;
}

// Another program holding the port: a child that opens it, takes the
// advisory lock and keeps both until the test lets it go.
class PortHolder {
public:
    explicit PortHolder(const std::string& path)
    {
        int ready[2];
        int release[2];
        if (pipe(ready) != 0 || pipe(release) != 0)
            return;
        m_child = fork();
        if (m_child == 0) {
            // Only async-signal-safe calls between fork and _exit.
            alarm(20);
            ::close(ready[0]);
            ::close(release[1]);
            int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            char held = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 1 : 0;
            (void)!::write(ready[1], &held, 1);
            char byte;
            (void)!::read(release[0], &byte, 1);
            _exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        m_release = release[1];
        char held = 0;
        m_held = ::read(ready[0], &held, 1) == 1 && held == 1;
        ::close(ready[0]);
    }

    ~PortHolder() { Release(); }

    bool Held() const { return m_held; }

    void Release()
    {
        if (m_release >= 0) {
            ::close(m_release);
            m_release = -1;
        }
        if (m_child > 0) {
            int status = 0;
            waitpid(m_child, &status, 0);
            m_child = -1;
        }
    }

private:
    pid_t m_child { -1 };
    int m_release { -1 };
    bool m_held { false };
};

class ComPortOverPty : public ::testing::Test {
protected:
    PtyPeer m_peer;
    CCOMPort m_port { CPortTable({ m_peer.SlavePath() }) };
};

} // namespace

// ---- Probe and opening --------------------------------------------------

TEST_F(ComPortOverPty, ProbeRecordsWhichSlotsOpenAndLeavesNoneOpen)
{
    EXPECT_EQ(m_port.GetPortError(0), 0);
    for (int i = 1; i < 16; ++i)
        EXPECT_EQ(m_port.GetPortError(i), ENOENT) << "slot " << i;
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_EQ(m_port.GetPortError(-1), ENOENT);
    EXPECT_EQ(m_port.GetPortError(16), ENOENT);
}

TEST_F(ComPortOverPty, OpenSetsRawModeWithoutFlowControl)
{
    ASSERT_TRUE(m_port.Open(0, "9600,n,8,1", 50));
    termios settings = SettingsOf(m_port);
    EXPECT_EQ(cfgetospeed(&settings), B9600);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | ICRNL | INLCR), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(settings.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB), 0u);
}

TEST_F(ComPortOverPty, ReopeningAt19200ChangesTheSpeed)
{
    ASSERT_TRUE(m_port.Open(0, "9600,n,8,1", 50));
    int firstHandle = m_port.GetHandle();
    ASSERT_TRUE(m_port.Open(0, "19200,n,8,1", 50));
    EXPECT_TRUE(m_port.IsOpen());
    termios settings = SettingsOf(m_port);
    EXPECT_EQ(cfgetospeed(&settings), B19200);
    EXPECT_EQ(cfgetispeed(&settings), B19200);
    // The old descriptor was closed, not leaked beside the new one.
    EXPECT_TRUE(m_port.GetHandle() == firstHandle || fcntl(firstHandle, F_GETFD) == -1);
}

TEST_F(ComPortOverPty, RefusedIndexLeavesTheOpenPortAlone)
{
    ASSERT_TRUE(m_port.Open(0, "9600,n,8,1", 50));
    int handle = m_port.GetHandle();
    EXPECT_FALSE(m_port.Open(-1, "9600,n,8,1", 50));
    EXPECT_FALSE(m_port.Open(16, "9600,n,8,1", 50));
    EXPECT_FALSE(m_port.Open(1, "9600,n,8,1", 50)); // empty slot, refused at the probe
    EXPECT_TRUE(m_port.IsOpen());
    EXPECT_EQ(m_port.GetHandle(), handle);
}

TEST_F(ComPortOverPty, ModeTextThatDoesNotParseFailsTheOpen)
{
    EXPECT_FALSE(m_port.Open(0, "9600,q,8,1", 50));
    EXPECT_FALSE(m_port.Open(0, nullptr, 50));
    EXPECT_TRUE(m_port.Open(0, "9600,n,8,1", 50));
}

TEST(ComPortProbe, SlotMissingAtStartStaysRefused)
{
    PtyPeer peer;
    auto later = std::filesystem::temp_directory_path() / ("orvex-later-" + std::to_string(getpid()));
    std::filesystem::remove(later);
    CCOMPort port(CPortTable({ later.string() }));
    EXPECT_EQ(port.GetPortError(0), ENOENT);
    std::filesystem::create_symlink(peer.SlavePath(), later);
    EXPECT_FALSE(port.Open(0, "9600,n,8,1", 50));
    std::filesystem::remove(later);
}

// A rescan takes the table from the environment again: the open port keeps
// its slot and its line wherever the new table puts it, the device the new
// table puts in that slot moves up, and a name entered stays listed.
TEST(ComPortProbe, RescanKeepsTheOpenPortWhereItIs)
{
    PtyPeer first;
    PtyPeer plugged;
    const char* old = std::getenv("ORVEX_PORTS");
    const std::string saved = old ? old : "";
    setenv("ORVEX_PORTS", first.SlavePath().c_str(), 1);
    CCOMPort port;
    ASSERT_TRUE(port.Open(0, "9600,n,8,1", 50));
    EXPECT_EQ(port.AddPath("tcp://127.0.0.1:4001"), 4);
    EXPECT_EQ(port.AddPath("tcp://127.0.0.1:4001"), 4) << "a name already listed keeps its slot";

    setenv("ORVEX_PORTS", (plugged.SlavePath() + "," + first.SlavePath()).c_str(), 1);
    port.Rescan();
    if (old)
        setenv("ORVEX_PORTS", saved.c_str(), 1);
    else
        unsetenv("ORVEX_PORTS");
    const CPortTable table = port.GetPortTable();
    EXPECT_EQ(table.Path(0), first.SlavePath());
    EXPECT_EQ(table.Path(1), "") << "the open path is not listed twice";
    EXPECT_EQ(table.Path(4), "tcp://127.0.0.1:4001") << "the name entered keeps its slot";
    EXPECT_EQ(table.Path(5), plugged.SlavePath());
    EXPECT_EQ(port.GetPortError(5), 0) << "probed";
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.GetOpenIndex(), 0);
    EXPECT_TRUE(port.Write(kPoll.data(), static_cast<int>(kPoll.size())));
}

TEST(ComPortProbe, FilesThatAreNoTerminalsAreRefusedUntouched)
{
    auto directory = std::filesystem::temp_directory_path() / ("orvex-notty-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    auto regular = directory / "plain";
    { std::ofstream(regular) << ""; }
    CCOMPort port(CPortTable({ "/dev/null", regular.string(), directory.string() }));
    EXPECT_EQ(port.GetPortError(0), ENOTTY);
    EXPECT_EQ(port.GetPortError(1), ENOTTY);
    EXPECT_EQ(port.GetPortError(2), EISDIR);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(port.Open(i, "9600,n,8,1", 50));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Write(kPoll.data(), 6));
    EXPECT_EQ(std::filesystem::file_size(regular), 0u);
    EXPECT_NE(port.DescribePortError(1).find("plain"), std::string::npos);
    std::filesystem::remove_all(directory);
}

TEST(ComPortBusy, PortHeldByAnotherProgramIsRefusedAsBusy)
{
    PtyPeer peer;
    {
        PortHolder holder(peer.SlavePath());
        ASSERT_TRUE(holder.Held());
        CCOMPort port(CPortTable({ peer.SlavePath() }));
        EXPECT_EQ(port.GetPortError(0), EBUSY);
        EXPECT_FALSE(port.Open(0, "9600,n,8,1", 50));
    }
    CCOMPort port(CPortTable({ peer.SlavePath() }));
    ASSERT_EQ(port.GetPortError(0), 0);
    {
        PortHolder holder(peer.SlavePath());
        ASSERT_TRUE(holder.Held());
        EXPECT_FALSE(port.Open(0, "9600,n,8,1", 50));
        EXPECT_EQ(port.GetPortError(0), EBUSY);
    }
    // Free again: the probe said the port exists, so it opens now.
    EXPECT_TRUE(port.Open(0, "9600,n,8,1", 50));
    EXPECT_EQ(port.GetPortError(0), 0);
}

TEST_F(ComPortOverPty, OpenPortIsHeldAgainstOtherPrograms)
{
    ASSERT_TRUE(m_port.Open(0, "9600,n,8,1", 50));
    PortHolder holder(m_peer.SlavePath());
    EXPECT_FALSE(holder.Held());
}

// ---- Reading and writing ------------------------------------------------

TEST_F(ComPortOverPty, ReadsAReplyThatComesLater)
{
    m_peer.SetResponder([](const Bytes&) { return PeerReply { MakeFrame(3, { 0x14 }), 40ms }; });
    ASSERT_TRUE(m_port.Open(0, "9600,n,8,1", 500));
    ASSERT_TRUE(m_port.Write(kPoll.data(), 6));
    std::uint8_t reply[6] {};
    EXPECT_TRUE(m_port.Read(reply, 6));
    EXPECT_EQ(Bytes(reply, reply + 6), MakeFrame(3, { 0x14 }));
    ASSERT_TRUE(m_peer.WaitForFrames(1, 1s));
    EXPECT_EQ(m_peer.Frames()[0], kPoll);
}

TEST_F(ComPortOverPty, ReadOfSixWithOnlyFourArrivingFailsAndKeepsThem)
{
    m_peer.SetResponder([](const Bytes&) { return PeerReply { Bytes { 0x02, 0x03, 0x06, 0x14 } }; });
    ASSERT_TRUE(m_port.Open(0, "9600,n,8,1", 60));
    ASSERT_TRUE(m_port.Write(kPoll.data(), 6));
    std::uint8_t reply[6] { 0, 0, 0, 0, 0xEE, 0xEE };
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_port.Read(reply, 6));
    EXPECT_LT(Since(start), 3s);
    EXPECT_EQ(m_port.GetLastReadCount(), 4);
    EXPECT_EQ(Bytes(reply, reply + 6), (Bytes { 0x02, 0x03, 0x06, 0x14, 0xEE, 0xEE }));
}

TEST_F(ComPortOverPty, HangUpMidReplyFailsAtOnce)
{
    m_peer.SetResponder([](const Bytes&) { return PeerReply { Bytes { 0x02, 0x03, 0x1E }, 0ms, true }; });
    // A long read time-out: waiting it out would take over five seconds.
    ASSERT_TRUE(m_port.Open(0, "9600,n,8,1", 5000));
    ASSERT_TRUE(m_port.Write(kPoll.data(), 6));
    std::uint8_t reply[30] {};
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_port.Read(reply, 30));
    EXPECT_LT(Since(start), 2s);
}

TEST_F(ComPortOverPty, SilentLineFailsAfterTheDeadline)
{
    ASSERT_TRUE(m_port.Open(0, "9600,n,8,1", 30));
    std::uint8_t reply[6] {};
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_port.Read(reply, 6));
    EXPECT_GE(Since(start), 90ms); // 11 ms per byte plus 30 ms, less rounding
    EXPECT_LT(Since(start), 3s);
    EXPECT_EQ(m_port.GetLastReadCount(), 0);
}

TEST_F(ComPortOverPty, NegativeReadTimeoutCountsAsNothing)
{
    ASSERT_TRUE(m_port.Open(0, "9600,n,8,1", -1000000));
    std::uint8_t reply[6] {};
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_port.Read(reply, 6));
    EXPECT_LT(Since(start), 3s);
}

TEST_F(ComPortOverPty, PurgeDropsWhatWaitsInTheInputQueue)
{
    m_peer.SetResponder([](const Bytes&) { return PeerReply { MakeFrame(3, { 0x14 }) }; });
    ASSERT_TRUE(m_port.Open(0, "9600,n,8,1", 50));
    ASSERT_TRUE(m_port.Write(kPoll.data(), 6));
    std::this_thread::sleep_for(100ms);
    m_port.Purge(FlushDirection::Input);
    std::uint8_t reply[6] {};
    EXPECT_FALSE(m_port.Read(reply, 6));
}
