/* The real-time clock over the host's local time. */
#ifndef ZEL_RTC_HOST_H
#define ZEL_RTC_HOST_H

#include "zel_rtc.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_rtc_host {
    zel_rtc_t rtc; /* its driver table */
    uint8_t enabled;
} zel_rtc_host_t;

extern const zel_rtc_op_t zel_rtc_host_op;

/* The host clock, enabled from the start. */
extern zel_rtc_host_t zel_rtc_host;

/* Inits and enables the host clock again (after a disable); true. */
bool zel_rtc_init(void);

#ifdef __cplusplus
}
#endif

#endif
