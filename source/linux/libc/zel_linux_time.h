/* Time of the Linux-emulation layer.
 *
 * time_t counts seconds since 1970-01-01 00:00:00 UTC as a 64-bit number.
 * The clock is the host's UTC clock: time() and gettimeofday() agree with
 * the rest of the world whatever the host's time zone, and the layer has no
 * time zones (localtime() is gmtime()). gettimeofday() gives microseconds
 * of millisecond resolution.
 *
 * mktime() and gmtime_r() convert between seconds and the proleptic
 * Gregorian calendar without time zones: mktime() reads tm_year, tm_mon,
 * tm_mday, tm_hour, tm_min and tm_sec only, writes nothing back and
 * normalises nothing but the month (a month outside 0..11 moves the year);
 * gmtime_r() fills every field (tm_isdst 0, tm_gmtoff 0, tm_zone null),
 * in the same few steps for any time; a time whose year tm_year cannot hold
 * answers null with errno EOVERFLOW.
 * gmtime() writes into one record shared by every caller.
 *
 * The calls themselves are declared in zel_linux_libc.h. */
#ifndef ZEL_LINUX_TIME_H
#define ZEL_LINUX_TIME_H

#include <stdint.h>

#include "zel_linux_libc.h"

extern "C" {

/* Days from 1970-01-01 to January 1st of `year` (negative before 1970). */
int64_t zel_linux_days_before_year(int64_t year);

}  // extern "C"

#endif
