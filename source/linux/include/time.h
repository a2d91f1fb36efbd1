/* Time of the layer.  time_t counts seconds since 1970 as a 64-bit number;
 * the layer's clock reads the host's local date and time without a time
 * zone, so local time and UTC are the same inside the layer. */
#ifndef _TIME_H
#define _TIME_H 1

#include <sys/cdefs.h>
#include <sys/types.h>

/* Layout of the x86-64 C library. */
struct tm {
    int tm_sec;
    int tm_min;
    int tm_hour;
    int tm_mday;
    int tm_mon;
    int tm_year; /* years since 1900 */
    int tm_wday;
    int tm_yday;
    int tm_isdst;
    long tm_gmtoff;      /* always 0 */
    const char *tm_zone; /* always null */
};

struct timespec {
    time_t tv_sec;
    long tv_nsec;
};

__BEGIN_DECLS
time_t time(time_t *out) __ZEL_LINUX(time);
time_t mktime(struct tm *date) __ZEL_LINUX(mktime);
struct tm *gmtime_r(const time_t *seconds, struct tm *out) __ZEL_LINUX(gmtime_r);
/* A record shared by every caller, overwritten by the next call. */
struct tm *gmtime(const time_t *seconds) __ZEL_LINUX(gmtime);
/* Local time is the layer's only time: the same as gmtime(). */
struct tm *localtime(const time_t *seconds) __ZEL_LINUX(gmtime);

/* The host's: formatting only (%Z gives no zone name). */
size_t strftime(char *buffer, size_t size, const char *format, const struct tm *date);
__END_DECLS

#endif
