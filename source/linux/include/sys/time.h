/* Wall-clock time of the layer. */
#ifndef _SYS_TIME_H
#define _SYS_TIME_H 1

#include <sys/cdefs.h>
#include <sys/types.h>
#include <sys/select.h> /* struct timeval */

__BEGIN_DECLS
/* Seconds since 1970 from the local date and time; the zone is ignored. */
int gettimeofday(struct timeval *now, void *zone) __ZEL_LINUX(gettimeofday);
__END_DECLS

#endif
