/* Memory stream class: a ring over a caller's buffer with one byte always
 * kept free, so that equal indexes mean empty (a buffer of n bytes holds at
 * most n - 1). Writes are all or nothing. */
#ifndef ZEL_STREAM_MEM_H
#define ZEL_STREAM_MEM_H

#include "zel_stream.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_stream_mem {
    zel_stream_t stream;
    uint8_t *buffer; /* owned by the caller */
    uint32_t size;
    uint32_t windex;
    uint32_t rindex;
} zel_stream_mem_t;

extern const zel_stream_op_t zel_stream_mem_op;

#ifdef __cplusplus
}
#endif

#endif
