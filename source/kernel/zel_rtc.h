/* Real-time clock drivers: a table of 8 operations and the date/time record. */
#ifndef ZEL_RTC_H
#define ZEL_RTC_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_rtc zel_rtc_t;

typedef struct zel_rtc_tm {
    uint8_t second;
    uint8_t minute;
    uint8_t hour;
    uint8_t day;     /* of the month, 1 to 31 */
    uint8_t weekday; /* Monday 1 to Sunday 7 */
    uint8_t month;   /* 1 to 12 */
    uint16_t year;
    uint16_t millisecond;
} zel_rtc_tm_t;

enum { ZEL_RTC_ERR_UNAVAILABLE = -7 }; /* not enabled, or not supported */

typedef struct zel_rtc_op {
    int32_t (*init)(zel_rtc_t *rtc, uintptr_t ignored);
    int32_t (*enable)(zel_rtc_t *rtc);
    int32_t (*disable)(zel_rtc_t *rtc, uintptr_t ignored);
    int32_t (*reserved3)(zel_rtc_t *rtc);
    int32_t (*get)(zel_rtc_t *rtc, zel_rtc_tm_t *tm);
    int32_t (*set)(zel_rtc_t *rtc, const zel_rtc_tm_t *tm);
    int32_t (*get_time)(zel_rtc_t *rtc, uint64_t *seconds, uint64_t *milliseconds);
    int32_t (*set_time)(zel_rtc_t *rtc, uint64_t seconds, uint64_t milliseconds);
} zel_rtc_op_t;

struct zel_rtc {
    const zel_rtc_op_t *op;
};

/* Slot 4 of the instance's table. */
[[nodiscard]] int32_t zel_rtc_get(zel_rtc_t *rtc, zel_rtc_tm_t *tm);

#ifdef __cplusplus
}
#endif

#endif
