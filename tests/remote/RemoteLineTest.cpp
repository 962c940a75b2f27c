// The bus reached through Debian's ser2net on loopback, raw and RFC 2217,
// with orvex-sim's pty behind it; and the line going away and coming back.
#include "cli/COrvexCtl.h"
#include "LogLines.h"
#include "link/CCOMPort.h"
#include "sim/CSimulator.h"
#include "support/PtyPeer.h"
#include "support/Ser2NetServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <sstream>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace orvex;
using namespace orvex::test;
using namespace std::chrono_literals;

namespace {

struct RunResult {
    int status { -1 };
    std::vector<std::string> out;
    std::vector<std::string> err;
};

std::vector<std::string> Lines(const std::string& text, bool maskTimes)
{
    static const std::regex time(R"(\(\d\d:\d\d:\d\d\))");
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(maskTimes ? std::regex_replace(line, time, "(time)") : line);
    return lines;
}

RunResult RunCtl(const std::vector<std::string>& arguments, const std::string& input = {})
{
    std::ostringstream out, err;
    std::istringstream in(input);
    COrvexCtl program(out, err, in);
    RunResult result;
    result.status = program.Run(arguments);
    result.out = Lines(out.str(), true);
    result.err = Lines(err.str(), true);
    return result;
}

int Count(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

bool Has(const std::vector<std::string>& lines, const std::string& prefix)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

SimOptions Unit()
{
    SimOptions options;
    options.pace = 0.02;
    options.escrowTimeoutSeconds = 0;
    options.takeTimeoutSeconds = 0.2;
    return options;
}

speed_t SpeedOf(const std::string& slave)
{
    termios settings {};
    int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return B0;
    tcgetattr(fd, &settings);
    ::close(fd);
    return cfgetospeed(&settings);
}

enum class Carrier { Raw, Rfc2217 };

class RemoteLine : public ::testing::TestWithParam<Carrier> {
protected:
    void SetUp() override
    {
        if (!Ser2NetServer::Available())
            GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it)";
        m_slave = m_simulator.StartPty();
        ASSERT_FALSE(m_slave.empty()) << m_simulator.LastError();
        ASSERT_TRUE(m_server.Start(m_slave)) << m_server.Error();
    }
    void TearDown() override
    {
        m_server.Stop();
        m_simulator.Stop();
    }
    std::string Name() const { return GetParam() == Carrier::Raw ? m_server.RawName() : m_server.Rfc2217Name(); }
    std::vector<std::string> On(const std::string& port, std::vector<std::string> words) const
    {
        std::vector<std::string> arguments { "--port", port, "--address", "1", "--intercommand", "2" };
        arguments.insert(arguments.end(), words.begin(), words.end());
        return arguments;
    }

    CSimulator m_simulator { Unit() };
    std::string m_slave;
    Ser2NetServer m_server;
};

} // namespace

// Commands whose frames and replies carry 0xFF both ways read exactly as
// on the pty itself; a dispense pays out through the network too.
TEST_P(RemoteLine, CommandsReadAsOnAPtyAndADispensePaysOut)
{
    const std::string script = "poll\nidentification\nbill-type FFFFFF FFFFFF\nset-options FFFFFFFF\nget-options\n"
                               "get-level\ncassette-status\n";
    const RunResult remote = RunCtl(On(Name(), { "script", "-" }), script);
    CSimulator twin(Unit());
    const std::string twinSlave = twin.StartPty();
    ASSERT_FALSE(twinSlave.empty());
    const RunResult local = RunCtl(On(twinSlave, { "script", "-" }), script);
    twin.Stop();
    EXPECT_EQ(remote.status, 0) << testing::PrintToString(remote.err);
    EXPECT_EQ(remote.out, local.out);
    EXPECT_EQ(remote.err, local.err);
    EXPECT_EQ(m_simulator.Snapshot().enableMask, 0xFFFFFFu);

    const long before = m_simulator.Snapshot().ledger.dispensed;
    const RunResult dispense = RunCtl(On(Name(), { "script", "-" }), "init-bc\ndispense 0 2 255 0 255 0\n");
    EXPECT_EQ(dispense.status, 0) << testing::PrintToString(dispense.out) << testing::PrintToString(dispense.err);
    EXPECT_EQ(m_simulator.Snapshot().ledger.dispensed, before + 2);
}

// The start-up search goes through the table's network entry like any
// path; polling mode then stacks the bills the unit is fed.
TEST_P(RemoteLine, StartupSearchFindsTheUnitAndPollingRuns)
{
    const std::string table = "/dev/orvex-no-such-port," + Name();
    ::setenv("ORVEX_PORTS", table.c_str(), 1);
    const RunResult search = RunCtl({ "search" });
    ::unsetenv("ORVEX_PORTS");
    EXPECT_EQ(search.status, 0) << testing::PrintToString(search.out);
    EXPECT_EQ(Count(search.out, "Cyclor Unit found on COM2"), 1) << testing::PrintToString(search.out);

    ASSERT_EQ(m_simulator.Control("auto 1").rfind("ok", 0), 0u);
    const RunResult polling = RunCtl(On(Name(), { "--poll-interval", "20", "polling", "--seconds", "3", "--escrow", "FFFFFF" }));
    EXPECT_EQ(polling.status, 0);
    EXPECT_TRUE(Has(polling.out, "->PACK (")) << testing::PrintToString(polling.out);
    EXPECT_GT(m_simulator.Snapshot().ledger.dropBox + m_simulator.Snapshot().ledger.CassetteTotal(), 0);
}

// ser2net dies under polling mode: the loss is logged once, naming the
// port; when the server is back the engine reconnects and polls again.
TEST_P(RemoteLine, LostServerIsLoggedOnceAndPollingRecovers)
{
    RunResult polling;
    std::thread run([&] { polling = RunCtl(On(Name(), { "--poll-interval", "20", "polling", "--seconds", "5" })); });
    std::this_thread::sleep_for(1500ms);
    m_server.Kill();
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(m_server.Restart()) << m_server.Error();
    run.join();
    EXPECT_EQ(polling.status, 0);
    const std::string lost = Name() + ": connection lost";
    EXPECT_EQ(Count(polling.out, lost), 1) << testing::PrintToString(polling.out);
    const std::size_t back = Find(polling.out, Name() + ": connected again");
    ASSERT_LT(back, polling.out.size()) << testing::PrintToString(polling.out);
    EXPECT_LT(Find(polling.out, lost), back);
    // Answered polls after the return.
    const std::size_t poll = Find(polling.out, "->POLL (", back);
    ASSERT_LT(poll + 1, polling.out.size());
    EXPECT_NE(polling.out[poll + 1], "<- Timeout");
}

INSTANTIATE_TEST_SUITE_P(Ser2Net, RemoteLine, ::testing::Values(Carrier::Raw, Carrier::Rfc2217),
    [](const auto& info) { return std::string(info.param == Carrier::Raw ? "Raw" : "Rfc2217"); });

// RFC 2217 carries the line speed to the unit's line; RTS cannot be moved
// on a pty, so ser2net never confirms it: said as Unconfirmed, and waited
// for only once. A second client is told the port is busy.
TEST(Rfc2217Line, SpeedReachesTheUnitRtsIsUnconfirmedAndASecondClientIsBusy)
{
    if (!Ser2NetServer::Available())
        GTEST_SKIP() << "ser2net is not installed";
    CSimulator simulator(Unit());
    const std::string slave = simulator.StartPty();
    ASSERT_FALSE(slave.empty());
    Ser2NetServer server;
    ASSERT_TRUE(server.Start(slave)) << server.Error();

    CCOMPort port(CPortTable(std::vector<std::string> { server.Rfc2217Name(), server.Rfc2217Name() }));
    ASSERT_NE(port.Open(0, "19200,n,8,1", 200), 0) << port.DescribePortError(0);
    EXPECT_EQ(SpeedOf(slave), B19200);
    port.SetRts(1);
    EXPECT_EQ(port.GetLastFault().fault, LineFault::Unconfirmed);
    port.SetRts(0);
    EXPECT_EQ(port.GetLastFault().fault, LineFault::Unconfirmed);
    const std::uint8_t poll[6] { 0x02, 0x01, 0x06, 0x33, 0x00, 0x00 };
    EXPECT_NE(port.Write(poll, 6), 0) << "the line still carries frames";

    CCOMPort second(CPortTable(std::vector<std::string> { server.Rfc2217Name() }));
    EXPECT_EQ(second.Open(0, "9600,n,8,1", 200), 0);
    EXPECT_EQ(second.GetPortError(0), EBUSY);
    EXPECT_NE(second.DescribePortError(0).find("busy"), std::string::npos) << second.DescribePortError(0);

    port.Close();
    const CPortTable refused(std::vector<std::string> { server.RawName() });
    server.Stop();
    CCOMPort nobody(refused);
    EXPECT_EQ(nobody.Open(0, "9600,n,8,1", 200), 0);
    EXPECT_EQ(nobody.DescribePortError(0),
        server.RawName() + ": cannot connect to 127.0.0.1 port " + server.RawName().substr(16) + ": Connection refused");
    simulator.Stop();
}
