// Buffer-node queue stream class over the node transport.
#include "zel_stream_bufnode.h"

#include <string.h>

#include "zel_irq_guard.h"

namespace {

zel_stream_bufnode_t *self(zel_stream_t *s) { return reinterpret_cast<zel_stream_bufnode_t *>(s); }

// Sends a 4-byte node of `type` holding `value`; nothing when out of memory.
void send_word(zel_stream_bufnode_t *q, uint16_t type, uint32_t value) {
    void *payload;
    zel_node_t *node = zel_node_transport_alloc(q->transport, 4, &payload);
    if (!node) return;
    memcpy(payload, &value, 4);
    node->wire.type = type;
    zel_node_transport_send(q->transport, q->link, node);
}

uint32_t data_length(zel_stream_t *s) {
    zel_irq_guard guard;
    return self(s)->data;
}

uint32_t free_length(zel_stream_t *s) {
    zel_stream_bufnode_t *q = self(s);
    if (!q->limit) return q->payload_size;
    uint32_t d = data_length(s);
    return q->limit > d ? q->limit - d : 0;
}

uint32_t buffer_size(zel_stream_t *s) { return self(s)->limit ? self(s)->limit : self(s)->payload_size; }

uint32_t readable_length(zel_stream_t *s) { return self(s)->unread; }

void drop_current(zel_stream_bufnode_t *q) {
    if (q->current) zel_node_transport_free(q->transport, q->current);
    q->current = nullptr;
}

void init(zel_stream_t *s) {
    zel_stream_bufnode_t *q = self(s);
    q->data = 0;
    q->current = nullptr;
    q->received_head = nullptr;
    q->received_tail = nullptr;
    q->read_offset = 0;
    q->unread = 0;
    if (q->announce) {
        send_word(q, ZEL_BUFNODE_LIMIT, q->limit);
        zel_stream_connect_tx(s);
    }
}

void fini(zel_stream_t *s) {
    zel_stream_bufnode_t *q = self(s);
    drop_current(q);
    while (zel_node_t *node = q->received_head) {
        q->received_head = node->next;
        zel_node_transport_free(q->transport, node);
    }
    q->received_tail = nullptr;
    q->read_offset = 0;
    q->unread = 0;
}

uint32_t write(zel_stream_t *s, const void *buffer, uint32_t size) {
    zel_stream_bufnode_t *q = self(s);
    bool fits = q->limit ? size <= free_length(s) : size <= q->payload_size;
    zel_node_t *node = nullptr;
    if (fits && buffer) {
        void *payload;
        node = zel_node_transport_alloc(q->transport, size, &payload);
        if (node) memcpy(payload, buffer, size);
    } else if (fits && q->current && size <= q->current->wire.length) {
        node = q->current;  // filled through the write area
        q->current = nullptr;
    }
    if (!node) {
        drop_current(q);
        return 0;
    }
    {
        zel_irq_guard guard;
        q->data += size;
    }
    node->wire.length = size;
    node->wire.type = ZEL_BUFNODE_DATA;
    zel_node_transport_send(q->transport, q->link, node);
    return size;
}

uint32_t read(zel_stream_t *s, void *buffer, uint32_t size) {
    zel_stream_bufnode_t *q = self(s);
    auto *out = static_cast<uint8_t *>(buffer);
    uint32_t done = 0;
    while (done < size && q->received_head) {
        zel_node_t *node = q->received_head;
        uint32_t left = node->wire.length - q->read_offset, want = size - done;
        uint32_t n = left < want ? left : want;
        if (out) memcpy(out + done, static_cast<uint8_t *>(zel_node_payload(node)) + q->read_offset, n);
        q->read_offset += n;
        q->unread -= n;
        done += n;
        if (q->read_offset == node->wire.length) {
            q->received_head = node->next;
            if (!q->received_head) q->received_tail = nullptr;
            q->read_offset = 0;
            zel_node_transport_free(q->transport, node);
        }
    }
    if (done) send_word(q, ZEL_BUFNODE_ACK, done);
    return done;
}

uint32_t get_wbuf(zel_stream_t *s, void **area) {
    zel_stream_bufnode_t *q = self(s);
    uint32_t f = free_length(s);
    uint32_t n = f < q->payload_size ? f : q->payload_size;
    if (!area) return n;
    drop_current(q);
    *area = nullptr;
    if (n == 0) return 0;
    q->current = zel_node_transport_alloc(q->transport, n, area);
    return q->current ? n : 0;
}

uint32_t get_rbuf(zel_stream_t *s, void **area) {
    zel_stream_bufnode_t *q = self(s);
    zel_node_t *node = q->received_head;
    if (area) *area = node ? static_cast<uint8_t *>(zel_node_payload(node)) + q->read_offset : nullptr;
    return node ? node->wire.length - q->read_offset : 0;
}

}  // namespace

extern "C" {

const zel_stream_op_t zel_stream_bufnode_op = {
    .init = init,
    .fini = fini,
    .write = write,
    .read = read,
    .buffer_size = buffer_size,
    .data_length = data_length,
    .free_length = free_length,
    .get_wbuf = get_wbuf,
    .get_rbuf = get_rbuf,
    .readable_length = readable_length,
};

void zel_stream_bufnode_receive(zel_stream_t *s, zel_node_t *node) {
    zel_stream_bufnode_t *q = self(s);
    uint16_t type = uint16_t(node->wire.type - q->link->type_base);
    if (type == ZEL_BUFNODE_DATA && node->wire.length) {
        node->next = nullptr;
        if (q->received_tail)
            q->received_tail->next = node;
        else
            q->received_head = node;
        q->received_tail = node;
        q->unread += node->wire.length;
        zel_stream_data_arrived(s);
        return;
    }
    const bool ack = type == ZEL_BUFNODE_ACK && node->wire.length >= 4;
    if (ack) {
        uint32_t n;
        memcpy(&n, zel_node_payload(node), 4);
        zel_irq_guard guard;
        q->data = n < q->data ? q->data - n : 0;
    }
    zel_node_transport_free(q->transport, node);
    if (ack) zel_stream_space_returned(s);
}

}  // extern "C"
