/* Descriptor sets and select(), which the layer builds on poll(). */
#ifndef _SYS_SELECT_H
#define _SYS_SELECT_H 1

#include <sys/cdefs.h>
#include <sys/types.h>

/* Layout of the x86-64 C library. */
struct timeval {
    time_t tv_sec;
    suseconds_t tv_usec;
};

/* Layout of the x86-64 C library: 1024 bits, although descriptor numbers
 * of the layer stop at 255. */
#define FD_SETSIZE 1024
#define __ZEL_NFDBITS (8 * (int)sizeof(long))

typedef struct {
    long fds_bits[FD_SETSIZE / (8 * sizeof(long))];
} fd_set;

#define __ZEL_FD_WORD(fd) ((fd) / __ZEL_NFDBITS)
#define __ZEL_FD_MASK(fd) (1UL << ((unsigned)(fd) % __ZEL_NFDBITS))
#define FD_ZERO(set) __builtin_memset((set), 0, sizeof(fd_set))
#define FD_SET(fd, set) ((void)((set)->fds_bits[__ZEL_FD_WORD(fd)] |= (long)__ZEL_FD_MASK(fd)))
#define FD_CLR(fd, set) ((void)((set)->fds_bits[__ZEL_FD_WORD(fd)] &= ~(long)__ZEL_FD_MASK(fd)))
#define FD_ISSET(fd, set) (((set)->fds_bits[__ZEL_FD_WORD(fd)] & (long)__ZEL_FD_MASK(fd)) != 0)

__BEGIN_DECLS
/* A null timeout waits without end; the sets are rewritten with the ready
 * descriptors and the answer is how many there are. */
int select(int count, fd_set *readable, fd_set *writable, fd_set *failed, struct timeval *timeout) __ZEL_LINUX(select);
__END_DECLS

#endif
