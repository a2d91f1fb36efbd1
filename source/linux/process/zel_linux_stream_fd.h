/* Descriptors over byte streams: the stream class, the two pipe ends, and
 * the glue that makes a descriptor the reader or the writer of a stream.
 *
 * A stream descriptor reads its reader stream and writes its writer stream.
 * Stream events become descriptor events (readable when data arrives or the
 * writer goes away, writable when the room reaches the stream's writer
 * threshold, and is at least a byte), raised on the private part or handed
 * to its relay hook instead. A write takes what fits, however little room
 * there is; it waits (or answers EAGAIN) only when there is none. A read or
 * write that waits ends with -1 and errno 9 (EBADF) once its descriptor's
 * number is closed by another thread.
 *
 * A pipe is a heap-node stream of at most ZEL_LINUX_PIPE_CAPACITY bytes
 * with a read end (which owns the stream unless it was given one) and a
 * write end. Reading an empty pipe waits while a writer is connected,
 * answers 0 once it has gone, and -1 with errno 11 when the read end is
 * non-blocking. The read end is at the end of its file (eof) once a read
 * found it empty with the writer gone, not before: data left by a writer
 * that has gone is read first. Writing to a full pipe waits for room (the
 * writable event, which a read raises), or takes what fits and answers that
 * count, or -1 with errno 11 when nothing fits and the write end is
 * non-blocking. A write of at most ZEL_LINUX_PIPE_ATOMIC bytes goes whole or
 * not at all: it waits for room for all of it (non-blocking: -1 with errno
 * 11), so that writes of several writers never interleave. The write end
 * of a pipe made by zel_linux_pipe is writable (POLLOUT, and the wake of a
 * waiting writer) only while ZEL_LINUX_PIPE_ATOMIC bytes fit, or once the
 * read end has gone: a few bytes of room do not make it so. Writing after
 * the read end has gone answers -1 with errno 32 (EPIPE); a write that had
 * moved some bytes when it found the read end gone answers their count
 * (the next one fails). Poll reports a read end whose writer has gone with
 * POLLHUP (beside POLLIN) and a write end whose read end has gone with
 * POLLERR (beside POLLOUT).
 *
 * A stream write that cannot store for want of memory answers -1 with
 * errno 12 when it moved nothing, else the count it moved. */
#ifndef ZEL_LINUX_STREAM_FD_H
#define ZEL_LINUX_STREAM_FD_H

#include <stdint.h>

#include "zel_linux_fd.h"
#include "zel_stream.h"

extern "C" {

/* The bytes a pipe holds, as on Linux. */
#define ZEL_LINUX_PIPE_CAPACITY 65536
/* Writes of at most this many bytes go into a pipe whole (PIPE_BUF). */
#define ZEL_LINUX_PIPE_ATOMIC 4096

/* A relay hook: receives the part's readable/writable changes (set 1 raise,
 * 0 clear) instead of the part itself. */
typedef void (*zel_linux_relay_t)(zel_linux_fd_priv_t *priv, uintptr_t zero, uint16_t events, int set);

/* The fields that stream, pipe and console descriptors share. */
typedef struct zel_linux_stream_priv {
    zel_linux_fd_priv_t head;
    zel_stream_t *rx;        /* the stream read from, or none */
    zel_stream_t *tx;        /* the stream written to, or none */
    zel_linux_relay_t relay; /* none: events go to the part itself */
} zel_linux_stream_priv_t;

typedef struct zel_linux_pipe_tx_priv zel_linux_pipe_tx_priv_t;

typedef struct zel_linux_pipe_rx_priv {
    zel_linux_stream_priv_t stream;
    uint32_t owns_stream;           /* the read end made the stream and frees it */
    zel_linux_pipe_tx_priv_t *peer; /* the write end, while both exist */
    uint32_t drained;               /* a read found it empty with the writer gone */
} zel_linux_pipe_rx_priv_t;

struct zel_linux_pipe_tx_priv {
    zel_linux_stream_priv_t stream;
    zel_linux_pipe_rx_priv_t *peer; /* the read end, while both exist */
};

extern const zel_linux_fd_op_t zel_linux_stream_op;
extern const zel_linux_fd_op_t zel_linux_pipe_rx_op;
extern const zel_linux_fd_op_t zel_linux_pipe_tx_op;

/* The class entries (the console runs them as its inner class). */
long zel_linux_stream_read(zel_linux_fd_t *fd, void *buffer, size_t count);
long zel_linux_stream_write(zel_linux_fd_t *fd, const void *buffer, size_t count);
long zel_linux_pipe_read(zel_linux_fd_t *fd, void *buffer, size_t count);
long zel_linux_pipe_write(zel_linux_fd_t *fd, const void *buffer, size_t count);
[[nodiscard]] int zel_linux_stream_close(zel_linux_fd_t *fd);
int zel_linux_pipe_close(zel_linux_fd_t *fd);
int zel_linux_pipe_rx_eof(zel_linux_fd_t *fd);
int zel_linux_pipe_tx_eof(zel_linux_fd_t *fd);

/* Raises (set) or clears events on a part, or hands them to its relay hook. */
void zel_linux_fd_event_relay(zel_linux_fd_priv_t *priv, uintptr_t zero, uint16_t events, int set);
/* The descriptor becomes the stream's writer / reader; writable / readable
 * is raised at once when the stream has room / data. The caller stores the
 * stream in the private part. */
void zel_linux_fd_bind_tx_stream(zel_linux_fd_t *fd, zel_stream_t *stream);
void zel_linux_fd_bind_rx_stream(zel_linux_fd_t *fd, zel_stream_t *stream);
/* The stream-side handler: `param` is the private part. */
void zel_linux_fd_stream_evthandler(zel_stream_t *stream, uintptr_t param, uint32_t event);

/* A read end in the current process (lowest free number) over `stream`, or
 * over a new stream of its own when null. Null on failure. */
zel_linux_fd_t *zel_linux_pipe_rx_create(zel_stream_t *stream);
/* A write end joined to the read end's private part, or null. */
zel_linux_fd_t *zel_linux_pipe_tx_create(zel_linux_pipe_rx_priv_t *rx_priv);

}  // extern "C"

#endif
