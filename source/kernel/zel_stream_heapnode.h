/* Heap-node queue stream class: every write becomes one heap node holding the
 * bytes taken; reads consume nodes in order and free each one once it is read
 * to its end. A negative limit means unlimited bytes; the node count is
 * bounded by `max_nodes`. The stream owns its nodes: zel_stream_fini frees
 * whatever is left. One context at a time. */
#ifndef ZEL_STREAM_HEAPNODE_H
#define ZEL_STREAM_HEAPNODE_H

#include "zel_stream.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_stream_heapnode_node {
    struct zel_stream_heapnode_node *next;
    uint32_t size;   /* bytes of data */
    uint32_t offset; /* bytes already read */
    /* the data follows */
} zel_stream_heapnode_node_t;

typedef struct zel_stream_heapnode {
    zel_stream_t stream;
    int32_t limit; /* bytes; negative: unlimited */
    uint32_t max_nodes;
    zel_stream_heapnode_node_t *head;
    zel_stream_heapnode_node_t *tail;
    uint32_t data;  /* data length */
    uint32_t nodes; /* node count */
} zel_stream_heapnode_t;

extern const zel_stream_op_t zel_stream_heapnode_op;

#ifdef __cplusplus
}
#endif

#endif
