/* Debug output stream class: takes every byte and keeps none (the console
 * output and the trace). Its init, zel_debug_stream_init, connects this
 * stream's rx side and the tx side of the console input stream named in the
 * record, so that both console streams count as connected. */
#ifndef ZEL_STREAM_DEBUG_H
#define ZEL_STREAM_DEBUG_H

#include "zel_stream.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_stream_debug {
    zel_stream_t stream;
    zel_stream_t *console_in; /* the console input stream, or null */
} zel_stream_debug_t;

void zel_debug_stream_init(zel_stream_t *stream);

extern const zel_stream_op_t zel_stream_debug_op;

#ifdef __cplusplus
}
#endif

#endif
