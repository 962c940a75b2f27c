#include "WindowTestSupport.h"

#ifdef ORVEX_HAVE_WINDOW

#include "app/window/CTerminationSignal.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace orvex;

namespace {

bool HandlerIsDefault(int number)
{
    struct sigaction current {};
    sigaction(number, nullptr, &current);
    return current.sa_handler == SIG_DFL;
}

} // namespace

// Each signal reaches the GUI thread as Requested, so the window can close
// as its close box does; afterwards the signals end the program again.
TEST(TerminationSignal, EachSignalIsRequestedOnTheGuiThreadAndTheDefaultComesBack)
{
    test::EnsureApplication();
    for (int number : { SIGTERM, SIGINT, SIGHUP }) {
        {
            CTerminationSignal termination;
            int requests = 0;
            QObject::connect(&termination, &CTerminationSignal::Requested, [&requests] { ++requests; });
            ASSERT_EQ(raise(number), 0);
            ASSERT_TRUE(test::WaitUntil([&] { return requests > 0; })) << "signal " << number;
            EXPECT_TRUE(termination.Received());
            EXPECT_EQ(requests, 1);
        }
        EXPECT_TRUE(HandlerIsDefault(number)) << "signal " << number;
    }
}

#endif
