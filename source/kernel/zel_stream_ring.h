/* Ring buffer stream class with units: a ring over a caller's buffer that
 * uses all of it (the data length tells full from empty). With a unit of n
 * bytes (a power of two; 0 or 1 for plain bytes) a read that cannot take
 * everything takes whole units, and no space is offered while a unit is only
 * partly written.
 *
 * The data length changes under the kernel's protection and the copies run
 * outside it, so the writer and the reader may be in different contexts (an
 * emulated interrupt on one side); the busy byte keeps a reader from
 * resetting the indexes under a writer. */
#ifndef ZEL_STREAM_RING_H
#define ZEL_STREAM_RING_H

#include "zel_stream.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_stream_ring {
    zel_stream_t stream;
    uint8_t *buffer; /* owned by the caller */
    uint32_t size;
    uint16_t unit;      /* configured unit size */
    uint16_t unit_mask; /* unit - 1 (0 for a unit of 0), set by init */
    uint8_t busy;       /* a write is in progress (or a write area is handed out) */
    uint32_t data;      /* data length */
    uint32_t rindex;
    uint32_t windex;
} zel_stream_ring_t;

extern const zel_stream_op_t zel_stream_ring_op;

#ifdef __cplusplus
}
#endif

#endif
