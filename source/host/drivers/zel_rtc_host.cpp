// The real-time clock over the host's local time.
#include "zel_rtc_host.h"

#include "zel_host_clock.h"

namespace {

zel_rtc_host_t *host_of(zel_rtc_t *rtc) { return reinterpret_cast<zel_rtc_host_t *>(rtc); }

bool enabled(zel_rtc_t *rtc) { return __atomic_load_n(&host_of(rtc)->enabled, __ATOMIC_SEQ_CST) != 0; }

int32_t op_init(zel_rtc_t *rtc, uintptr_t) {
    __atomic_store_n(&host_of(rtc)->enabled, uint8_t(0), __ATOMIC_SEQ_CST);
    return 0;
}

int32_t op_enable(zel_rtc_t *rtc) {
    __atomic_store_n(&host_of(rtc)->enabled, uint8_t(1), __ATOMIC_SEQ_CST);
    return 0;
}

int32_t op_zero(zel_rtc_t *) { return 0; }

int32_t op_get(zel_rtc_t *rtc, zel_rtc_tm_t *tm) {
    if (!enabled(rtc)) return ZEL_RTC_ERR_UNAVAILABLE;
    zel_host_local_time_t now;
    zel_host_local_time(&now);
    if (!tm) return 0;
    tm->second = now.second;
    tm->minute = now.minute;
    tm->hour = now.hour;
    tm->day = now.day;
    tm->weekday = now.weekday == 0 ? 7 : now.weekday;  // Monday 1 .. Sunday 7
    tm->month = now.month;
    tm->year = now.year;
    tm->millisecond = now.millisecond;
    return 0;
}

int32_t op_set(zel_rtc_t *, const zel_rtc_tm_t *) { return ZEL_RTC_ERR_UNAVAILABLE; }

int32_t op_get_time(zel_rtc_t *rtc, uint64_t *seconds, uint64_t *milliseconds) {
    if (!enabled(rtc)) return ZEL_RTC_ERR_UNAVAILABLE;
    zel_host_local_time_t now;
    zel_host_local_time(&now);
    if (seconds) *seconds = uint64_t(zel_host_local_time_to_seconds(&now));
    if (milliseconds) *milliseconds = now.millisecond;
    return 0;
}

int32_t op_set_time(zel_rtc_t *, uint64_t, uint64_t) { return ZEL_RTC_ERR_UNAVAILABLE; }

}  // namespace

extern "C" {

const zel_rtc_op_t zel_rtc_host_op = {
    .init = op_init,
    .enable = op_enable,
    .disable = op_init,
    .reserved3 = op_zero,
    .get = op_get,
    .set = op_set,
    .get_time = op_get_time,
    .set_time = op_set_time,
};

// Up from the start: nothing else brings the clock up, so its record is
// enabled as the program loads.
zel_rtc_host_t zel_rtc_host = {{&zel_rtc_host_op}, 1};

bool zel_rtc_init(void) {
    zel_rtc_host.rtc.op->init(&zel_rtc_host.rtc, 0);
    zel_rtc_host.rtc.op->enable(&zel_rtc_host.rtc);
    return true;
}

}  // extern "C"
