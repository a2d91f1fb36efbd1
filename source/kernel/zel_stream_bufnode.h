/* Buffer-node queue stream class: a stream over the node transport. Every
 * write becomes one data node (type 1) sent on the stream's link; the data
 * length counts the bytes sent and not yet acknowledged. With the announce
 * flag, init first sends the byte limit in a 4-byte node of type 0 and
 * connects the tx side.
 *
 * The receiving half: nodes that arrive from the link are handed to
 * zel_stream_bufnode_receive. Data nodes queue up for reading and tell the
 * reader (event 2) once the unread bytes reach its threshold; every read
 * sends back a 4-byte node of type 2 with the count consumed; a type 2 node
 * that arrives acknowledges that many of our own bytes and tells the writer
 * (event 3) once the free length reaches its threshold. The reader's
 * threshold counts received bytes, never the bytes this side sent. Node types
 * are counted from the link's type base. */
#ifndef ZEL_STREAM_BUFNODE_H
#define ZEL_STREAM_BUFNODE_H

#include "zel_node_transport.h"
#include "zel_stream.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    ZEL_BUFNODE_LIMIT = 0, /* payload: the sender's byte limit (u32) */
    ZEL_BUFNODE_DATA = 1,  /* payload: stream bytes */
    ZEL_BUFNODE_ACK = 2    /* payload: bytes consumed by the reader (u32) */
};

typedef struct zel_stream_bufnode {
    zel_stream_t stream;
    uint32_t payload_size; /* largest node when there is no byte limit */
    const zel_node_link_t *link;
    zel_node_transport_t *transport;
    uint32_t limit; /* bytes in flight; 0: none */
    uint8_t announce;
    uint32_t data;             /* bytes sent and not acknowledged */
    zel_node_t *current;       /* handed out by the write area, not yet sent */
    zel_node_t *received_head; /* data nodes to read, linked through `next` */
    zel_node_t *received_tail;
    uint32_t read_offset; /* into the head received node */
    uint32_t unread;      /* received bytes not yet read: the readable length */
} zel_stream_bufnode_t;

extern const zel_stream_op_t zel_stream_bufnode_op;

/* A node that arrived from the link; the stream takes it over. */
void zel_stream_bufnode_receive(zel_stream_t *stream, zel_node_t *node);

#ifdef __cplusplus
}
#endif

#endif
