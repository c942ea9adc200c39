#include "platform/event.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/semaphore.h"

using namespace std::chrono_literals;

TEST(Event, ManualResetStaysSetUntilReset) {
    Event e(Event::Reset::Manual);
    EXPECT_FALSE(e.IsSet());
    e.Set();
    e.Set();
    EXPECT_TRUE(e.IsSet());
    EXPECT_TRUE(e.IsSet());
    EXPECT_TRUE(e.Wait(0ms));
    e.ResetEvent();
    EXPECT_FALSE(e.IsSet());
    EXPECT_FALSE(e.Wait(10ms));
}

TEST(Event, AutoResetWakesOneWaitOnly) {
    Event e(Event::Reset::Auto);
    e.Set();
    e.Set();
    EXPECT_TRUE(e.Wait(0ms));
    EXPECT_FALSE(e.Wait(0ms));
}

TEST(Event, WaitAnyReportsTheSignalledObjectOrTimeout) {
    Event a, b(Event::Reset::Auto);
    EXPECT_FALSE(WaitAny({&a, &b}, 5ms).has_value());
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        b.Set();
    });
    auto which = WaitAny({&a, &b}, 5s);
    setter.join();
    ASSERT_TRUE(which.has_value());
    EXPECT_EQ(*which, 1u);
    EXPECT_FALSE(b.IsSet());  // consumed by the wait
}

TEST(PeriodicTimer, ExpiresEveryPeriodUntilCancelled) {
    PeriodicTimer t;
    EXPECT_FALSE(t.Start(0ms));
    ASSERT_TRUE(t.Start(10ms));
    EXPECT_TRUE(WaitAny({&t}, 2s).has_value());
    EXPECT_TRUE(WaitAny({&t}, 2s).has_value());
    t.Cancel();
    EXPECT_FALSE(WaitAny({&t}, 40ms).has_value());
}

TEST(Semaphore, CountsUpToItsMaximum) {
    Semaphore s(1, 1);
    EXPECT_TRUE(s.TryAcquire());
    EXPECT_FALSE(s.TryAcquire());
    EXPECT_FALSE(s.Acquire(5ms));
    EXPECT_TRUE(s.Release());
    EXPECT_FALSE(s.Release());
    EXPECT_TRUE(s.Acquire(5ms));
}
