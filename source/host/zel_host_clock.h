/* The host's local date and time. */
#ifndef ZEL_HOST_CLOCK_H
#define ZEL_HOST_CLOCK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_host_local_time {
    uint16_t year;   /* e.g. 2024 */
    uint8_t month;   /* 1 to 12 */
    uint8_t day;     /* 1 to 31 */
    uint8_t weekday; /* 0 Sunday to 6 Saturday */
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint16_t millisecond;
} zel_host_local_time_t;

void zel_host_local_time(zel_host_local_time_t *out);

/* Milliseconds since 1970-01-01 00:00 UTC by the host's real-time clock. */
int64_t zel_host_wall_clock_ms(void);

/* Seconds since 1970-01-01 00:00 of the given fields read as they stand, with
 * no time-zone correction. */
int64_t zel_host_local_time_to_seconds(const zel_host_local_time_t *t);

/* Tests: zel_host_local_time answers `fixed` from now on (null: the real
 * clock again). */
void zel_host_local_time_override(const zel_host_local_time_t *fixed);

#ifdef __cplusplus
}
#endif

#endif
