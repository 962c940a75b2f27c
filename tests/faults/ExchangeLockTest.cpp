// The engine's lock hands over in arrival order. Found by the soak: with
// the engine polling at an interval of 0, a released semaphore went
// straight back to the engine's thread, and a button's command (or now
// and then a POLL) waited out its 1000 ms and failed as "Timeout" on a
// healthy line.
#include "protocol/CExchangeLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using orvex::CExchangeLock;

TEST(ExchangeLock, AWaiterGetsTheLockBeforeTheReleasingThreadTakesItBack)
{
    CExchangeLock lock;
    ASSERT_TRUE(lock.TryAcquireFor(1000ms));
    std::atomic<int> order { 0 };
    int waiterTurn = 0;
    std::thread waiter([&] {
        EXPECT_TRUE(lock.TryAcquireFor(3000ms));
        waiterTurn = ++order;
        std::this_thread::sleep_for(50ms);
        lock.Release();
    });
    std::this_thread::sleep_for(100ms); // the waiter is in line
    lock.Release();
    EXPECT_TRUE(lock.TryAcquireFor(3000ms));
    const int ownTurn = ++order;
    lock.Release();
    waiter.join();
    EXPECT_EQ(waiterTurn, 1);
    EXPECT_EQ(ownTurn, 2);
}

TEST(ExchangeLock, AWaiterThatGaveUpDoesNotHoldUpTheNext)
{
    CExchangeLock lock;
    ASSERT_TRUE(lock.TryAcquireFor(1000ms));
    std::thread impatient([&] { EXPECT_FALSE(lock.TryAcquireFor(50ms)); });
    std::this_thread::sleep_for(20ms);
    std::atomic<bool> got { false };
    std::thread patient([&] {
        got = lock.TryAcquireFor(3000ms);
        if (got)
            lock.Release();
    });
    impatient.join();
    std::this_thread::sleep_for(50ms);
    const auto released = std::chrono::steady_clock::now();
    lock.Release();
    patient.join();
    EXPECT_TRUE(got.load());
    EXPECT_LT(std::chrono::steady_clock::now() - released, 1000ms);
}

TEST(ExchangeLock, ABusyLoopCannotStarveAWaiter)
{
    CExchangeLock lock;
    std::atomic<bool> stop { false };
    std::thread hog([&] {
        while (!stop.load()) {
            if (lock.TryAcquireFor(1000ms))
                lock.Release();
        }
    });
    for (int i = 0; i < 200; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(lock.TryAcquireFor(1000ms)) << "turn " << i;
        lock.Release();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    }
    stop = true;
    hog.join();
}
