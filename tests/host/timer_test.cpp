// The system timer: tick conversions and the "timer" host thread.
#include <gtest/gtest.h>

#include <thread>

#include "zel_host_test_hooks.h"
#include "zel_test.h"

namespace {

using namespace std::chrono_literals;

TEST(SysTimer, Conversions) {
    EXPECT_EQ(10000u, zel_systimer_ms_to_tick(1));
    EXPECT_EQ(0u, zel_systimer_tick_to_ms(9999));
    EXPECT_EQ(1u, zel_systimer_tick_to_ms(10000));
    EXPECT_EQ(42000u, zel_systimer_tick_to_ms(420000000));
    EXPECT_TRUE(zel_systimer_is_due(0));
}

TEST(SysTimer, TickCountsUpFromStart) {
    zel_test::boot();
    uint64_t a = zel_systimer_get_tick();
    std::this_thread::sleep_for(2ms);
    uint64_t b = zel_systimer_get_tick();
    EXPECT_GE(b - a, 20000u);
}

uint32_t settled_fires() {
    zel_test::settle();
    uint32_t f;
    do {
        f = zel_systimer_fire_count();
        std::this_thread::sleep_for(30ms);
    } while (f != zel_systimer_fire_count());
    return f;
}

TEST(SysTimer, PastDueFiresAtOnceAndThenStaysQuiet) {
    zel_test::boot();
    uint32_t f0 = settled_fires();
    zel_test::run_as_irq([] { EXPECT_TRUE(zel_systimer_set(1)); });
    ASSERT_TRUE(zel_test::wait_until([&] { return zel_systimer_fire_count() == f0 + 1; }));
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(f0 + 1, zel_systimer_fire_count()) << "no further expiry without arming";
}

TEST(SysTimer, ReplacingTheDueTickFiresOnceAtTheEarlierOne) {
    zel_test::boot();
    uint32_t f0 = settled_fires();
    uint64_t earlier = 0;
    zel_test::run_as_irq([&] {
        uint64_t now = zel_systimer_get_tick();
        earlier = now + zel_systimer_ms_to_tick(5);
        zel_systimer_set(now + zel_systimer_ms_to_tick(60000));
        zel_systimer_set(earlier);
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return zel_systimer_fire_count() == f0 + 1; }));
    EXPECT_GE(zel_systimer_get_tick(), earlier);
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(f0 + 1, zel_systimer_fire_count());
}

// A due tick too far to count in nanoseconds (a timeout of "for ever") must
// put the timer thread to sleep, not have its timed wait end at once. Armed
// directly and through a kernel timeout of INT64_MAX ticks.
TEST(SysTimer, AFarDueTickSleeps) {
    zel_test::boot();
    const uint32_t f0 = settled_fires();
    for (uint64_t far : {UINT64_MAX, uint64_t(INT64_MAX), UINT64_MAX / 100 + 1}) {
        const uint32_t w0 = zel_systimer_wait_count();
        zel_test::run_as_irq([&] { EXPECT_TRUE(zel_systimer_set(far)); });
        std::this_thread::sleep_for(100ms);
        EXPECT_LE(zel_systimer_wait_count() - w0, 3u) << "the timer thread spins for " << far;
        EXPECT_EQ(f0, zel_systimer_fire_count());
    }
    // Hand the timer back to the kernel: an expiry makes it re-arm.
    zel_test::run_as_irq([] { zel_systimer_set(1); });
    ASSERT_TRUE(zel_test::wait_until([&] { return zel_systimer_fire_count() == f0 + 1; }));

    zel_test::Agent forever([](zel_test::Agent &self, zel_evt_t evt) {
        if (evt == ZEL_EVT_INIT) zel_eda_set_timeout(self.eda(), INT64_MAX);
    });
    const uint32_t f1 = settled_fires();
    const uint32_t w1 = zel_systimer_wait_count();
    zel_test::run_as_irq([&] { forever.start(0); });
    std::this_thread::sleep_for(100ms);
    EXPECT_LE(zel_systimer_wait_count() - w1, 3u) << "the timer thread spins";
    EXPECT_EQ(f1, zel_systimer_fire_count());
    EXPECT_TRUE(forever.finish());
}

}  // namespace
