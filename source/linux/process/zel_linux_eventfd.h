/* The event counter descriptor class: a 64-bit counter that writers add to
 * and readers take. Reads and writes move exactly 8 bytes (a little-endian
 * u64). A read of a zero counter waits, or answers -1 with errno 11 when
 * the descriptor is non-blocking, or with errno 9 (EBADF) when another
 * thread closes the number it waits on; it answers the count and leaves 0,
 * or one less in semaphore mode (and stays readable while a value is left).
 * The counter never wraps: it holds at most 0xfffffffffffffffe, and is
 * writable while it is below that. A write that would pass it waits until
 * reads make room, or answers -1 with errno 11 when the descriptor is
 * non-blocking (errno 9 when the number is closed meanwhile); writing
 * 0xffffffffffffffff answers -1 with errno 22. The mode is the counter's
 * own, apart from the status flags (whose 0x1 is O_WRONLY, which makes
 * every read fail). */
#ifndef ZEL_LINUX_EVENTFD_H
#define ZEL_LINUX_EVENTFD_H

#include <stdint.h>

#include "zel_linux_fd.h"

extern "C" {

typedef struct zel_linux_eventfd_priv {
    zel_linux_fd_priv_t head;
    uint64_t counter;
    uint32_t semaphore; /* reads take one at a time */
} zel_linux_eventfd_priv_t;

extern const zel_linux_fd_op_t zel_linux_eventfd_op;

zel_linux_ssize_t zel_linux_eventfd_read(zel_linux_fd_t *fd, void *buffer, size_t count);
zel_linux_ssize_t zel_linux_eventfd_write(zel_linux_fd_t *fd, const void *buffer, size_t count);
int zel_linux_eventfd_eof(zel_linux_fd_t *fd);

/* A counter descriptor in the current process (lowest free number) holding
 * `initial`; answers its number or -1. */
[[nodiscard]] int zel_linux_eventfd_create(uint64_t initial, int semaphore);

}  // extern "C"

#endif
