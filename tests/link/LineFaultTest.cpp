// What a line reports when a read or write falls short, and what it leaves
// behind on the tty when it closes.
#include "link/CCOMPort.h"
#include "link/CTtyLine.h"

#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace orvex;
using namespace orvex::test;
using namespace std::chrono_literals;

TEST(LineFault, ASilentPeerIsATimeoutAndAVanishedOneIsADisconnectedDevice)
{
    auto peer = std::make_unique<PtyPeer>();
    const std::string path = peer->SlavePath();
    CPortTable table(std::vector<std::string> { path });
    CCOMPort port(table);
    ASSERT_NE(port.Open(0, "9600,n,8,1", 50), 0);

    std::uint8_t buffer[6] {};
    EXPECT_EQ(port.Read(buffer, 6), 0);
    EXPECT_EQ(port.GetLastFault().fault, LineFault::Timeout);
    EXPECT_EQ(port.DescribeLastFault(), path + ": timeout");

    // The master goes away, and with it the slave's node.
    peer.reset();
    EXPECT_EQ(port.Read(buffer, 6), 0);
    EXPECT_EQ(port.GetLastFault().fault, LineFault::DeviceRemoved) << DescribeLineFault(port.GetLastFault());
    EXPECT_EQ(port.DescribeLastFault(), path + ": device disconnected");
    const std::uint8_t poll[6] { 0x02, 0x03, 0x06, 0x33, 0xDA, 0x81 };
    EXPECT_EQ(port.Write(poll, 6), 0);
    EXPECT_TRUE(IsLineGone(port.GetLastFault().fault));
}

TEST(LineFault, ClosingPutsBackTheSettingsFoundOnOpen)
{
    PtyPeer peer;
    int keeper = ::open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(keeper, 0);
    termios before {};
    ASSERT_EQ(tcgetattr(keeper, &before), 0);
    before.c_lflag |= ICANON | ECHO;
    cfsetospeed(&before, B2400);
    cfsetispeed(&before, B2400);
    ASSERT_EQ(tcsetattr(keeper, TCSANOW, &before), 0);

    CTtyLine line;
    ASSERT_EQ(line.Open(peer.SlavePath()), 0);
    LineMode mode;
    mode.baud = 19200;
    ASSERT_EQ(line.Configure(mode), 0);
    termios during {};
    tcgetattr(keeper, &during);
    EXPECT_EQ(cfgetospeed(&during), B19200);
    EXPECT_EQ(during.c_lflag & ICANON, 0u);
    line.Close();

    termios after {};
    ASSERT_EQ(tcgetattr(keeper, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), B2400);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
    ::close(keeper);
}
