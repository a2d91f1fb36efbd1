/* Message fifo stream class: one write is one message of at most `unit`
 * bytes, kept in an item fifo of `capacity` slots, each a u32 length followed
 * by `unit` bytes of data. A read takes the oldest message and drops it whole,
 * even when only part of it was copied. */
#ifndef ZEL_STREAM_MSGFIFO_H
#define ZEL_STREAM_MSGFIFO_H

#include "zel_item_fifo.h"
#include "zel_stream.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_stream_msgfifo {
    zel_stream_t stream;
    uint16_t unit;         /* largest message */
    uint8_t capacity;      /* messages */
    zel_item_fifo_t *fifo; /* ZEL_STREAM_MSGFIFO_BYTES(capacity, unit) bytes, owned by the caller */
} zel_stream_msgfifo_t;

#define ZEL_STREAM_MSGFIFO_BYTES(capacity, unit) ZEL_ITEM_FIFO_BYTES(capacity, (size_t)(unit) + 4)

extern const zel_stream_op_t zel_stream_msgfifo_op;

#ifdef __cplusplus
}
#endif

#endif
