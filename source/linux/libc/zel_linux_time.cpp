// Time calls of the layer: the host's UTC clock and calendar arithmetic.
#include "zel_linux_time.h"

#include <string.h>

#include "zel_host_clock.h"
#include "zel_linux_thread.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kDaysPer400Years = 146097;

// Cumulative days before each month, common and leap years.
constexpr int kMonthStart[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366},
};

bool is_leap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Division rounding towards minus infinity.
int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Leap years in [1, year).
int64_t leaps_before(int64_t year) {
    int64_t y = year - 1;
    return floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
}

zel_linux_tm g_shared_tm;

}  // namespace

extern "C" {

int64_t zel_linux_days_before_year(int64_t year) {
    return (year - 1970) * 365 + leaps_before(year) - leaps_before(1970);
}

int zel_linux_gettimeofday(zel_linux_timeval *now, void *) {
    if (!now) return 0;
    int64_t ms = zel_host_wall_clock_ms();
    now->tv_sec = floor_div(ms, 1000);
    now->tv_usec = (ms - now->tv_sec * 1000) * 1000;
    return 0;
}

zel_linux_time_t zel_linux_time(zel_linux_time_t *out) {
    zel_linux_timeval now{};
    zel_linux_gettimeofday(&now, nullptr);
    if (out) *out = now.tv_sec;
    return now.tv_sec;
}

zel_linux_time_t zel_linux_mktime(zel_linux_tm *date) {
    if (!date) return -1;
    int64_t year = 1900 + static_cast<int64_t>(date->tm_year) + floor_div(date->tm_mon, 12);
    int64_t month = date->tm_mon - floor_div(date->tm_mon, 12) * 12;
    int64_t days = zel_linux_days_before_year(year) + kMonthStart[is_leap(year)][month] + date->tm_mday - 1;
    return days * kSecondsPerDay + (static_cast<int64_t>(date->tm_hour) * 60 + date->tm_min) * 60 + date->tm_sec;
}

zel_linux_tm *zel_linux_gmtime_r(const zel_linux_time_t *seconds, zel_linux_tm *out) {
    if (!seconds || !out) return nullptr;
    memset(out, 0, sizeof *out);
    // Days and the seconds into the day, without a product that could
    // overflow at the ends of the range.
    int64_t days = *seconds / kSecondsPerDay;
    int64_t rest = *seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    // Estimate with the mean Gregorian year (146097 days in 400 years),
    // which is never more than a year off, then correct.
    int64_t year = 1970 + floor_div(days * 400, kDaysPer400Years);
    while (zel_linux_days_before_year(year) > days) --year;
    while (zel_linux_days_before_year(year + 1) <= days) ++year;
    if (year - 1900 > INT32_MAX || year - 1900 < INT32_MIN) {
        zel_linux_set_errno(ZEL_LINUX_EOVERFLOW);
        return nullptr;
    }
    int yday = static_cast<int>(days - zel_linux_days_before_year(year));
    const int *start = kMonthStart[is_leap(year)];
    int month = 0;
    while (yday >= start[month + 1]) ++month;
    out->tm_year = static_cast<int>(year - 1900);
    out->tm_yday = yday;
    out->tm_mon = month;
    out->tm_mday = yday - start[month] + 1;
    out->tm_hour = static_cast<int>(rest / 3600);
    out->tm_min = static_cast<int>(rest / 60 % 60);
    out->tm_sec = static_cast<int>(rest % 60);
    // 1970-01-01 was a Thursday.
    out->tm_wday = static_cast<int>(days - floor_div(days + 4, 7) * 7 + 4);
    return out;
}

zel_linux_tm *zel_linux_gmtime(const zel_linux_time_t *seconds) { return zel_linux_gmtime_r(seconds, &g_shared_tm); }

}  // extern "C"
