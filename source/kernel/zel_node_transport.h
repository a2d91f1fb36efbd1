/* Node transport: carries messages (nodes) over a link that the transport's
 * owner provides. A node is one block holding a 16-byte wire header (payload
 * length, header checksum, payload checksum, type, one user word) and the
 * payload; the link is given the header and the payload as one frame. One
 * node is in flight at a time; the others wait in order until the link
 * reports the node in flight done.
 *
 * Checksums: the payload checksum is the byte sum of the payload modulo
 * 65536; the header checksum is the byte sum, modulo 65536, of the length and
 * of the payload checksum, type and user words. Multi-byte fields are
 * little-endian. */
#ifndef ZEL_NODE_TRANSPORT_H
#define ZEL_NODE_TRANSPORT_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The header as it goes on the link; the payload follows it directly. */
typedef struct zel_node_wire {
    uint32_t length;        /* payload bytes */
    uint32_t header_cksum;  /* 16-bit value, upper half 0 */
    uint32_t payload_cksum; /* 16-bit value, upper half 0 */
    uint16_t type;          /* set by the user; the link's type base is added at send */
    uint16_t user;          /* left as the user set it */
} zel_node_wire_t;

typedef struct zel_node {
    struct zel_node *next;    /* free for the node's holder; cleared at allocation */
    struct zel_node *pending; /* the transport's pending list; cleared at allocation */
    zel_node_wire_t wire;
    /* the payload follows */
} zel_node_t;

static inline void *zel_node_payload(zel_node_t *node) { return node + 1; }

/* The record that names a link: its third 16-bit field is added to the type
 * of every node sent. The other fields belong to the link. */
typedef struct zel_node_link {
    uint16_t reserved0;
    uint16_t reserved1;
    uint16_t type_base;
} zel_node_link_t;

typedef struct zel_node_transport zel_node_transport_t;
typedef void (*zel_node_transport_done_t)(zel_node_transport_t *transport);

struct zel_node_transport {
    /* Sends one frame (wire header + payload, `length` bytes). Returns true
     * when the link is done with the frame on return, false when it will call
     * `done` later (possibly from an emulated interrupt). */
    bool (*send)(const void *frame, uint32_t length, zel_node_transport_t *transport, zel_node_transport_done_t done);
    void *(*alloc)(uint32_t size); /* null when out of memory */
    void (*free)(void *block);
    zel_node_t *in_flight;    /* null when idle */
    zel_node_t *pending_head; /* waiting to be sent, first in first out */
    zel_node_t *pending_tail;
};

/* A node with room for `size` payload bytes (payload length := size, type and
 * user word 0), or null: when the allocation fails, or when the node's size
 * would not fit in 32 bits. `payload` (optional) receives the payload address. */
zel_node_t *zel_node_transport_alloc(zel_node_transport_t *transport, uint32_t size, void **payload);
void zel_node_transport_free(zel_node_transport_t *transport, zel_node_t *node);
/* Stamps the node and sends it, or queues it behind the node in flight. The
 * node belongs to the transport from here on and is freed once sent. */
void zel_node_transport_send(zel_node_transport_t *transport, const zel_node_link_t *link, zel_node_t *node);
/* The completion callback handed to the link. */
void zel_node_transport_on_sent(zel_node_transport_t *transport);

#ifdef __cplusplus
}
#endif

#endif
