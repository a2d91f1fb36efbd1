// Message fifo stream class over the item fifo.
#include "zel_stream_msgfifo.h"

#include <string.h>

namespace {

zel_stream_msgfifo_t *self(zel_stream_t *s) { return reinterpret_cast<zel_stream_msgfifo_t *>(s); }
uint32_t slot_size(const zel_stream_msgfifo_t *m) { return uint32_t(m->unit) + 4; }

uint32_t stored_length(const uint8_t *slot) {
    uint32_t n;
    memcpy(&n, slot, 4);
    return n;
}

void init(zel_stream_t *s) {
    zel_stream_msgfifo_t *m = self(s);
    zel_item_fifo_init(m->fifo, m->capacity);
}

uint32_t write(zel_stream_t *s, const void *buffer, uint32_t size) {
    zel_stream_msgfifo_t *m = self(s);
    // A message longer than the unit does not fit its slot: refuse it whole.
    if (size > m->unit) return 0;
    auto *slot = static_cast<uint8_t *>(zel_item_fifo_peek_write(m->fifo, slot_size(m)));
    if (!slot) return 0;
    if (buffer) memcpy(slot + 4, buffer, size);
    memcpy(slot, &size, 4);
    zel_item_fifo_push(m->fifo, slot_size(m), nullptr);
    return size;
}

uint32_t read(zel_stream_t *s, void *buffer, uint32_t size) {
    zel_stream_msgfifo_t *m = self(s);
    auto *slot = static_cast<uint8_t *>(zel_item_fifo_peek_read(m->fifo, slot_size(m)));
    if (!slot) return 0;
    uint32_t len = stored_length(slot);
    uint32_t n = len < size ? len : size;
    if (buffer) memcpy(buffer, slot + 4, n);
    zel_item_fifo_pop(m->fifo, slot_size(m), nullptr);
    return n;
}

uint32_t buffer_size(zel_stream_t *s) { return uint32_t(self(s)->unit) * self(s)->capacity; }

uint32_t data_length(zel_stream_t *s) { return uint32_t(self(s)->unit) * zel_item_fifo_count(self(s)->fifo); }

uint32_t free_length(zel_stream_t *s) {
    zel_stream_msgfifo_t *m = self(s);
    return uint32_t(m->unit) * uint32_t(m->capacity - zel_item_fifo_count(m->fifo));
}

uint32_t get_wbuf(zel_stream_t *s, void **area) {
    zel_stream_msgfifo_t *m = self(s);
    auto *slot = static_cast<uint8_t *>(zel_item_fifo_peek_write(m->fifo, slot_size(m)));
    if (area) *area = slot ? slot + 4 : nullptr;
    return slot ? m->unit : 0;
}

uint32_t get_rbuf(zel_stream_t *s, void **area) {
    zel_stream_msgfifo_t *m = self(s);
    auto *slot = static_cast<uint8_t *>(zel_item_fifo_peek_read(m->fifo, slot_size(m)));
    if (area) *area = slot ? slot + 4 : nullptr;
    return slot ? stored_length(slot) : 0;
}

}  // namespace

extern "C" const zel_stream_op_t zel_stream_msgfifo_op = {
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
