// Node transport: stamping, in-order sending, one node in flight.
#include "zel_node_transport.h"

#include <string.h>

#include "zel_irq_guard.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the wire header is little-endian");
static_assert(sizeof(zel_node_wire_t) == 16, "the wire header is 16 bytes");
static_assert(offsetof(zel_node_t, wire) + sizeof(zel_node_wire_t) == sizeof(zel_node_t),
    "the payload follows the wire header directly");
static_assert(
    offsetof(zel_node_wire_t, payload_cksum) == 8 && offsetof(zel_node_wire_t, type) == 12, "wire header layout");

namespace {

uint32_t byte_sum(const void *p, size_t n) {
    const uint8_t *b = static_cast<const uint8_t *>(p);
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += b[i];
    return sum & 0xFFFF;
}

// Takes the next pending node as the node in flight (null: idle).
zel_node_t *take_next(zel_node_transport_t *t) {
    zel_irq_guard guard;
    zel_node_t *node = t->pending_head;
    if (node) {
        t->pending_head = node->pending;
        if (!t->pending_head) t->pending_tail = nullptr;
        node->pending = nullptr;
    }
    t->in_flight = node;
    return node;
}

// Sends `node` (already in flight) and every node after it that the link
// finishes on the spot.
void pump(zel_node_transport_t *t, zel_node_t *node) {
    while (node) {
        if (!t->send(&node->wire, node->wire.length + uint32_t(sizeof node->wire), t, zel_node_transport_on_sent))
            return;  // the link calls back when it is done
        t->free(node);
        node = take_next(t);
    }
}

}  // namespace

extern "C" {

zel_node_t *zel_node_transport_alloc(zel_node_transport_t *t, uint32_t size, void **payload) {
    // The block size (node header and payload) must fit in 32 bits, and so
    // must the frame length (wire header and payload).
    if (size > UINT32_MAX - uint32_t(sizeof(zel_node_t))) return nullptr;
    auto *node = static_cast<zel_node_t *>(t->alloc(uint32_t(sizeof(zel_node_t)) + size));
    if (!node) return nullptr;
    memset(node, 0, sizeof *node);
    node->wire.length = size;
    if (payload) *payload = zel_node_payload(node);
    return node;
}

void zel_node_transport_free(zel_node_transport_t *t, zel_node_t *node) { t->free(node); }

void zel_node_transport_send(zel_node_transport_t *t, const zel_node_link_t *link, zel_node_t *node) {
    zel_node_wire_t &w = node->wire;
    w.type = uint16_t(w.type + link->type_base);
    w.payload_cksum = byte_sum(zel_node_payload(node), w.length);
    w.header_cksum = (byte_sum(&w.length, 4) + byte_sum(&w.payload_cksum, 8)) & 0xFFFF;

    {
        zel_irq_guard guard;
        if (t->in_flight) {
            node->pending = nullptr;
            if (t->pending_tail)
                t->pending_tail->pending = node;
            else
                t->pending_head = node;
            t->pending_tail = node;
            return;
        }
        t->in_flight = node;
    }
    pump(t, node);
}

void zel_node_transport_on_sent(zel_node_transport_t *t) {
    zel_node_t *done = t->in_flight;
    zel_node_t *next = take_next(t);
    if (done) t->free(done);
    pump(t, next);
}

}  // extern "C"
