// The real-time clock over the host's local time.
#include <gtest/gtest.h>

#include "zel_host_clock.h"
#include "zel_rtc_host.h"
#include "zel_test.h"

namespace {

zel_rtc_t *rtc() { return &zel_rtc_host.rtc; }

struct FixedTime {
    explicit FixedTime(const zel_host_local_time_t &t) { zel_host_local_time_override(&t); }
    ~FixedTime() { zel_host_local_time_override(nullptr); }
};

TEST(Clock, IsUpFromTheStartAndReadsTheHostTime) {
    zel_rtc_tm_t tm{};
    ASSERT_EQ(0, zel_rtc_get(rtc(), &tm));
    EXPECT_GE(tm.year, 2024);
    EXPECT_TRUE(tm.month >= 1 && tm.month <= 12);
    EXPECT_TRUE(tm.day >= 1 && tm.day <= 31);
    EXPECT_TRUE(tm.weekday >= 1 && tm.weekday <= 7);
    EXPECT_LT(tm.millisecond, 1000);
    EXPECT_EQ(0, zel_rtc_get(rtc(), nullptr));
}

TEST(Clock, WeekdaysRunFromMondayOneToSundaySeven) {
    {
        FixedTime sunday({2024, 3, 10, 0, 12, 34, 56, 789});
        zel_rtc_tm_t tm{};
        ASSERT_EQ(0, zel_rtc_get(rtc(), &tm));
        EXPECT_EQ(7, tm.weekday);
        EXPECT_EQ(2024, tm.year);
        EXPECT_EQ(3, tm.month);
        EXPECT_EQ(10, tm.day);
        EXPECT_EQ(12, tm.hour);
        EXPECT_EQ(34, tm.minute);
        EXPECT_EQ(56, tm.second);
        EXPECT_EQ(789, tm.millisecond);

        uint64_t seconds = 0, ms = 0;
        ASSERT_EQ(0, rtc()->op->get_time(rtc(), &seconds, &ms));
        EXPECT_EQ(1710074096u, seconds);  // the fields as they stand, no zone applied
        EXPECT_EQ(789u, ms);
        EXPECT_EQ(0, rtc()->op->get_time(rtc(), nullptr, &ms));
    }
    {
        FixedTime monday({2024, 3, 11, 1, 0, 0, 0, 0});
        zel_rtc_tm_t tm{};
        ASSERT_EQ(0, zel_rtc_get(rtc(), &tm));
        EXPECT_EQ(1, tm.weekday);
    }
}

TEST(Clock, SettingIsNotSupportedAndADisabledClockAnswersNothing) {
    zel_rtc_tm_t tm{};
    EXPECT_EQ(ZEL_RTC_ERR_UNAVAILABLE, rtc()->op->set(rtc(), &tm));
    EXPECT_EQ(ZEL_RTC_ERR_UNAVAILABLE, rtc()->op->set_time(rtc(), 1, 2));
    EXPECT_EQ(0, rtc()->op->reserved3(rtc()));

    EXPECT_EQ(0, rtc()->op->disable(rtc(), 0));
    EXPECT_EQ(ZEL_RTC_ERR_UNAVAILABLE, zel_rtc_get(rtc(), &tm));
    uint64_t seconds = 0;
    EXPECT_EQ(ZEL_RTC_ERR_UNAVAILABLE, rtc()->op->get_time(rtc(), &seconds, nullptr));
    EXPECT_TRUE(zel_rtc_init());
    EXPECT_EQ(1, zel_rtc_host.enabled);
    EXPECT_EQ(0, zel_rtc_get(rtc(), &tm));
}

}  // namespace
