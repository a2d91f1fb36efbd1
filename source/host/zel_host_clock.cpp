// The host's local date and time, from the real-time clock and the time zone.
#include "zel_host_clock.h"

#include <time.h>

#include <chrono>
#include <mutex>

namespace {

std::mutex g_lock;
bool g_fixed = false;
zel_host_local_time_t g_fixed_time;

}  // namespace

extern "C" {

void zel_host_local_time(zel_host_local_time_t *out) {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (g_fixed) {
            *out = g_fixed_time;
            return;
        }
    }
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local;
    localtime_r(&ts.tv_sec, &local);
    out->year = uint16_t(local.tm_year + 1900);
    out->month = uint8_t(local.tm_mon + 1);
    out->day = uint8_t(local.tm_mday);
    out->weekday = uint8_t(local.tm_wday);
    out->hour = uint8_t(local.tm_hour);
    out->minute = uint8_t(local.tm_min);
    out->second = uint8_t(local.tm_sec > 59 ? 59 : local.tm_sec);
    out->millisecond = uint16_t(ts.tv_nsec / 1000000);
}

int64_t zel_host_local_time_to_seconds(const zel_host_local_time_t *t) {
    tm fields{};
    fields.tm_year = t->year - 1900;
    fields.tm_mon = t->month - 1;
    fields.tm_mday = t->day;
    fields.tm_hour = t->hour;
    fields.tm_min = t->minute;
    fields.tm_sec = t->second;
    return int64_t(timegm(&fields));
}

void zel_host_local_time_override(const zel_host_local_time_t *fixed) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_fixed = fixed != nullptr;
    if (fixed) g_fixed_time = *fixed;
}

int64_t zel_host_wall_clock_ms(void) {
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
}

}  // extern "C"
