/* Waiting for descriptor events.  The event values are the layer's own:
 * readable and writable are the descriptor event bits 1 and 2. */
#ifndef _POLL_H
#define _POLL_H 1

#include <sys/cdefs.h>

#define POLLIN 1
#define POLLOUT 2
#define POLLPRI 4
#define POLLERR 8
#define POLLHUP 16
#define POLLNVAL 32

typedef unsigned long nfds_t;

/* Layout of the x86-64 C library. */
struct pollfd {
    int fd;
    short events;
    short revents;
};

__BEGIN_DECLS
/* A negative timeout waits without end; no entries at all is a sleep.
 * A descriptor that is not open is reported as not ready. */
int poll(struct pollfd *entries, nfds_t count, int timeout_ms) __ZEL_LINUX(poll);
__END_DECLS

#endif
