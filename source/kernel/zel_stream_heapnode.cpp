// Heap-node queue stream class.
#include "zel_stream_heapnode.h"

#include <string.h>

#include "zel_heap.h"

namespace {

using node_t = zel_stream_heapnode_node_t;

zel_stream_heapnode_t *self(zel_stream_t *s) { return reinterpret_cast<zel_stream_heapnode_t *>(s); }
uint8_t *data_of(node_t *n) { return reinterpret_cast<uint8_t *>(n + 1); }

void init(zel_stream_t *s) {
    zel_stream_heapnode_t *q = self(s);
    q->head = nullptr;
    q->tail = nullptr;
    q->data = 0;
    q->nodes = 0;
}

void fini(zel_stream_t *s) {
    zel_stream_heapnode_t *q = self(s);
    while (node_t *n = q->head) {
        q->head = n->next;
        zel_heap_free(n);
    }
    init(s);
}

uint32_t buffer_size(zel_stream_t *s) {
    int32_t limit = self(s)->limit;
    return limit < 0 ? ZEL_STREAM_UNLIMITED : uint32_t(limit);
}

uint32_t data_length(zel_stream_t *s) { return self(s)->data; }

uint32_t free_length(zel_stream_t *s) {
    zel_stream_heapnode_t *q = self(s);
    if (q->nodes >= q->max_nodes) return 0;
    if (q->limit < 0) return ~q->data;
    return uint32_t(q->limit) > q->data ? uint32_t(q->limit) - q->data : 0;
}

// Stores exactly the bytes it reports as taken, so a caller that writes the
// rest again does not duplicate any.
uint32_t write(zel_stream_t *s, const void *buffer, uint32_t size) {
    zel_stream_heapnode_t *q = self(s);
    uint32_t f = free_length(s);
    uint32_t n = f < size ? f : size;
    if (n == 0 || !buffer) return 0;  // there is no write area to commit
    auto *node = static_cast<node_t *>(zel_heap_malloc(sizeof(node_t) + n));
    if (!node) return 0;
    node->next = nullptr;
    node->size = n;
    node->offset = 0;
    memcpy(data_of(node), buffer, n);
    if (q->tail)
        q->tail->next = node;
    else
        q->head = node;
    q->tail = node;
    q->data += n;
    q->nodes++;
    return n;
}

uint32_t read(zel_stream_t *s, void *buffer, uint32_t size) {
    zel_stream_heapnode_t *q = self(s);
    auto *out = static_cast<uint8_t *>(buffer);
    uint32_t done = 0;
    while (done < size && q->head) {
        node_t *node = q->head;
        uint32_t left = node->size - node->offset, want = size - done;
        uint32_t n = left < want ? left : want;
        if (out) memcpy(out + done, data_of(node) + node->offset, n);
        node->offset += n;
        q->data -= n;
        done += n;
        if (node->offset == node->size) {
            q->head = node->next;
            if (!q->head) q->tail = nullptr;
            q->nodes--;
            zel_heap_free(node);
        }
    }
    return done;
}

uint32_t get_rbuf(zel_stream_t *s, void **area) {
    node_t *node = self(s)->head;
    if (area) *area = node ? data_of(node) + node->offset : nullptr;
    return node ? node->size - node->offset : 0;
}

}  // namespace

extern "C" const zel_stream_op_t zel_stream_heapnode_op = {
    .init = init,
    .fini = fini,
    .write = write,
    .read = read,
    .buffer_size = buffer_size,
    .data_length = data_length,
    .free_length = free_length,
    .get_wbuf = nullptr,
    .get_rbuf = get_rbuf,
    .readable_length = nullptr,
};
