// Ring buffer stream class with units.
#include "zel_stream_ring.h"

#include <string.h>

#include "zel_irq_guard.h"

namespace {

zel_stream_ring_t *self(zel_stream_t *s) { return reinterpret_cast<zel_stream_ring_t *>(s); }

uint32_t data_length(zel_stream_t *s) {
    zel_irq_guard guard;
    return self(s)->data;
}

uint32_t free_length(zel_stream_t *s) {
    zel_stream_ring_t *r = self(s);
    if (r->windex & r->unit_mask) return 0;  // a unit is being written
    return r->size - data_length(s);
}

uint32_t buffer_size(zel_stream_t *s) { return self(s)->size; }

uint32_t wrap(const zel_stream_ring_t *r, uint32_t index) { return index >= r->size ? index - r->size : index; }

void init(zel_stream_t *s) {
    zel_stream_ring_t *r = self(s);
    r->unit_mask = r->unit ? uint16_t(r->unit - 1) : 0;
    r->busy = 0;
    r->data = 0;
    r->rindex = 0;
    r->windex = 0;
}

uint32_t write(zel_stream_t *s, const void *buffer, uint32_t size) {
    zel_stream_ring_t *r = self(s);
    uint32_t f = free_length(s);
    uint32_t n = f < size ? f : size;
    r->busy = 1;
    // The stream's own write area is already filled.
    if (buffer && buffer != r->buffer + r->windex) {
        uint32_t first = r->size - r->windex;
        if (first > n) first = n;
        memcpy(r->buffer + r->windex, buffer, first);
        memcpy(r->buffer, static_cast<const uint8_t *>(buffer) + first, n - first);
    }
    {
        zel_irq_guard guard;
        r->data += n;
        r->windex = wrap(r, r->windex + n);
    }
    r->busy = 0;
    return n;
}

uint32_t read(zel_stream_t *s, void *buffer, uint32_t size) {
    zel_stream_ring_t *r = self(s);
    uint32_t d = data_length(s);
    uint32_t n = d < size ? d : size;
    if (d > size) n &= ~uint32_t(r->unit_mask);
    if (buffer && buffer != r->buffer + r->rindex) {
        uint32_t first = r->size - r->rindex;
        if (first > n) first = n;
        memcpy(buffer, r->buffer + r->rindex, first);
        memcpy(static_cast<uint8_t *>(buffer) + first, r->buffer, n - first);
    }
    zel_irq_guard guard;
    r->data -= n;
    // Emptied with no write under way: start again at the front, so that the
    // next write area is as long as possible. A write that landed meanwhile
    // keeps the indexes where they are.
    if (r->data == 0 && !r->busy) {
        r->rindex = 0;
        r->windex = 0;
    } else {
        r->rindex = wrap(r, r->rindex + n);
    }
    return n;
}

uint32_t get_wbuf(zel_stream_t *s, void **area) {
    zel_stream_ring_t *r = self(s);
    if (r->windex & r->unit_mask) {
        if (area) *area = nullptr;
        return 0;
    }
    uint32_t free = r->size - data_length(s), run = r->size - r->windex;
    uint32_t n = run < free ? run : free;
    if (area) {
        *area = n ? r->buffer + r->windex : nullptr;
        if (n) r->busy = 1;  // until the write that commits the area
    }
    return n;
}

uint32_t get_rbuf(zel_stream_t *s, void **area) {
    zel_stream_ring_t *r = self(s);
    uint32_t d = data_length(s), run = r->size - r->rindex;
    uint32_t n = run < d ? run : d;
    if (area) *area = n ? r->buffer + r->rindex : nullptr;
    return n;
}

}  // namespace

extern "C" const zel_stream_op_t zel_stream_ring_op = {
    .init = init,
    .fini = init,
    .write = write,
    .read = read,
    .buffer_size = buffer_size,
    .data_length = data_length,
    .free_length = free_length,
    .get_wbuf = get_wbuf,
    .get_rbuf = get_rbuf,
    .readable_length = nullptr,
};
