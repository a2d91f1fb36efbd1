/* Byte streams: one writer (the tx side) and one reader (the rx side) joined
 * through a buffer whose kind is chosen by a stream class.
 *
 * Each side may register a handler and a threshold. The stream tells the
 * reader once when the readable length (the data length, unless the class
 * says otherwise) reaches its threshold (event 2) and the writer once when
 * the free length reaches its threshold (event 3); the reader's notice is
 * re-armed by its next read, the writer's by its next write. Both sides hear event 0 when the second of them connects (the side
 * that was there first hears first), and the side that stays hears event 1
 * when its peer disconnects. Handlers run in the context of the call that
 * triggered them and must not block.
 *
 * No operation reports an error: writes take fewer bytes (or none) when space
 * is short, reads give fewer (or none) when data is short.
 *
 * Classes: zel_stream_msgfifo.h, zel_stream_bufnode.h, zel_stream_mem.h,
 * zel_stream_ring.h, zel_stream_heapnode.h, zel_stream_debug.h. */
#ifndef ZEL_STREAM_H
#define ZEL_STREAM_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_stream zel_stream_t;

/* Events passed to a side's handler. */
enum {
    ZEL_STREAM_EVT_CONNECTED = 0,    /* both sides are now connected */
    ZEL_STREAM_EVT_DISCONNECTED = 1, /* the peer side disconnected */
    ZEL_STREAM_EVT_DATA = 2,         /* data length reached the rx threshold */
    ZEL_STREAM_EVT_SPACE = 3         /* free length reached the tx threshold */
};

#define ZEL_STREAM_UNLIMITED 0xFFFFFFFFu

typedef void (*zel_stream_handler_t)(zel_stream_t *stream, uintptr_t param, uint32_t evt);

typedef struct zel_stream_side {
    uintptr_t param;              /* given back to the handler */
    zel_stream_handler_t handler; /* may be null */
    uint32_t threshold;           /* tx: bytes of free space; rx: bytes of data */
    uint8_t connected;
    uint8_t notified;
} zel_stream_side_t;

/* The class table. A null buffer in write or read copies nothing and only
 * advances the stream (the data went through the area handed out by the area
 * operations). A null out pointer in the area operations asks for the length
 * only. Null slots answer 0 through the common calls below, except the
 * readable length, which is the data length when null. */
typedef struct zel_stream_op {
    void (*init)(zel_stream_t *stream);
    void (*fini)(zel_stream_t *stream);
    uint32_t (*write)(zel_stream_t *stream, const void *buffer, uint32_t size);
    uint32_t (*read)(zel_stream_t *stream, void *buffer, uint32_t size);
    uint32_t (*buffer_size)(zel_stream_t *stream);
    uint32_t (*data_length)(zel_stream_t *stream);
    uint32_t (*free_length)(zel_stream_t *stream);
    uint32_t (*get_wbuf)(zel_stream_t *stream, void **area);
    uint32_t (*get_rbuf)(zel_stream_t *stream, void **area);
    /* Linux port addition: the bytes the reader can take, for a class whose
     * data length counts something else (the buffer-node queue's counts the
     * bytes it sent); the reader's notice compares this with its threshold. */
    uint32_t (*readable_length)(zel_stream_t *stream);
} zel_stream_op_t;

/* The common head of every stream; the class's own fields follow it. */
struct zel_stream {
    const zel_stream_op_t *op;
    uint8_t rbuf_cap; /* non-zero: zel_stream_get_rbuf hands out at most half the buffer */
    uint8_t wbuf_cap; /* non-zero: zel_stream_get_wbuf hands out at most half the buffer */
    zel_stream_side_t tx;
    zel_stream_side_t rx;
};

/* Clears both connected bytes and runs the class init. Handlers, params,
 * thresholds and the cap bytes are the owner's to set, before or after. */
[[nodiscard]] int zel_stream_init(zel_stream_t *stream);
/* Runs the class fini (nothing when the class has none). */
void zel_stream_fini(zel_stream_t *stream);

uint32_t zel_stream_write(zel_stream_t *stream, const void *buffer, uint32_t size);
uint32_t zel_stream_read(zel_stream_t *stream, void *buffer, uint32_t size);
uint32_t zel_stream_get_free_size(zel_stream_t *stream);
uint32_t zel_stream_get_wbuf(zel_stream_t *stream, void **area);
uint32_t zel_stream_get_rbuf(zel_stream_t *stream, void **area);

/* For classes whose data reaches the reader, or whose space comes back,
 * other than through zel_stream_write and zel_stream_read (a peer's nodes):
 * tell the reader when the readable length meets its threshold, and the
 * writer when the free length meets its, each once as after a write or a
 * read. */
void zel_stream_data_arrived(zel_stream_t *stream);
void zel_stream_space_returned(zel_stream_t *stream);

/* Store the threshold, then notify at once when it is already met. */
void zel_stream_set_tx_threshold(zel_stream_t *stream, uint32_t bytes);
void zel_stream_set_rx_threshold(zel_stream_t *stream, uint32_t bytes);

void zel_stream_connect_tx(zel_stream_t *stream);
void zel_stream_connect_rx(zel_stream_t *stream);
void zel_stream_disconnect_tx(zel_stream_t *stream);
void zel_stream_disconnect_rx(zel_stream_t *stream);
bool zel_stream_is_tx_connected(const zel_stream_t *stream);
bool zel_stream_is_rx_connected(const zel_stream_t *stream);

#ifdef __cplusplus
}
#endif

#endif
