// A local line going away under polling mode: the unit's link removed and
// made again (an adapter unplugged and put back), and a pty that hangs up.
#include "cli/COrvexCtl.h"
#include "LogLines.h"
#include "sim/CSimulator.h"
#include "support/PtyPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace orvex;
using namespace orvex::test;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> OutputOf(const std::vector<std::string>& arguments)
{
    std::ostringstream out, err;
    std::istringstream in;
    COrvexCtl program(out, err, in);
    program.Run(arguments);
    std::vector<std::string> lines;
    std::istringstream stream(out.str());
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

SimOptions Unit()
{
    SimOptions options;
    options.pace = 0.02;
    options.escrowTimeoutSeconds = 0;
    return options;
}

} // namespace

TEST(Reconnect, UnpluggedUnitIsLoggedOnceAndPollingGoesOnWhenItIsBack)
{
    char folder[] = "/tmp/orvex-reconnect-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/ttyORVEX0";
    auto first = std::make_unique<CSimulator>(Unit());
    ASSERT_FALSE(first->StartPty(link).empty()) << first->LastError();

    std::vector<std::string> out;
    std::thread run([&] {
        out = OutputOf({ "--port", link, "--address", "1", "--intercommand", "2", "--poll-interval", "20", "polling",
            "--seconds", "5" });
    });
    std::this_thread::sleep_for(1500ms);
    first->Stop();
    first.reset();
    std::this_thread::sleep_for(1000ms);
    CSimulator second(Unit());
    ASSERT_FALSE(second.StartPty(link).empty()) << second.LastError();
    run.join();
    second.Stop();
    ::rmdir(folder);

    const std::string gone = link + ": device disconnected";
    EXPECT_EQ(std::count(out.begin(), out.end(), gone), 1) << testing::PrintToString(out);
    const std::size_t back = Find(out, link + ": connected again");
    ASSERT_LT(back, out.size()) << testing::PrintToString(out);
    // The unit is initialised again, then polled with answers.
    const std::size_t reset = Find(out, "->RESET (", back);
    EXPECT_LT(reset, out.size()) << testing::PrintToString(out);
    const std::size_t poll = Find(out, "->POLL (", reset);
    ASSERT_LT(poll + 1, out.size());
    EXPECT_NE(out[poll + 1], "<- Timeout");
}

// The pty hangs up for good: polling waits for it, and the end of the run
// (a stop, as unchecking the box) ends the wait.
TEST(Reconnect, WaitForAHungUpPtyEndsOnStop)
{
    auto peer = std::make_unique<PtyPeer>();
    peer->SetResponder(PtyPeer::Always(1, { 0x00 }));
    const std::string path = peer->SlavePath();
    std::vector<std::string> out;
    std::thread run([&] {
        out = OutputOf({ "--port", path, "--address", "1", "--intercommand", "2", "--poll-interval", "20", "polling",
            "--seconds", "3" });
    });
    std::this_thread::sleep_for(500ms);
    peer->HangUp();
    run.join();
    EXPECT_EQ(std::count(out.begin(), out.end(), path + ": device disconnected"), 1) << testing::PrintToString(out);
    EXPECT_EQ(Find(out, path + ": connected again"), out.size());
}
