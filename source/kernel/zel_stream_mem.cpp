// Memory stream class: a ring that keeps one byte free.
#include "zel_stream_mem.h"

#include <string.h>

namespace {

zel_stream_mem_t *self(zel_stream_t *s) { return reinterpret_cast<zel_stream_mem_t *>(s); }

uint32_t data_length(zel_stream_t *s) {
    zel_stream_mem_t *m = self(s);
    return m->windex >= m->rindex ? m->windex - m->rindex : m->size - (m->rindex - m->windex);
}

uint32_t free_length(zel_stream_t *s) {
    zel_stream_mem_t *m = self(s);
    if (m->size == 0) return 0;
    return m->size - 1 - data_length(s);
}

uint32_t buffer_size(zel_stream_t *s) { return self(s)->size; }

void init(zel_stream_t *s) {
    self(s)->windex = 0;
    self(s)->rindex = 0;
}

uint32_t write(zel_stream_t *s, const void *buffer, uint32_t size) {
    zel_stream_mem_t *m = self(s);
    if (size == 0 || free_length(s) < size) return 0;
    uint32_t first = m->size - m->windex;
    if (first > size) first = size;
    if (buffer) {
        memcpy(m->buffer + m->windex, buffer, first);
        memcpy(m->buffer, static_cast<const uint8_t *>(buffer) + first, size - first);
    }
    uint32_t w = m->windex + size;
    m->windex = w >= m->size ? w - m->size : w;
    return size;
}

uint32_t read(zel_stream_t *s, void *buffer, uint32_t size) {
    zel_stream_mem_t *m = self(s);
    uint32_t d = data_length(s);
    uint32_t n = d < size ? d : size;
    uint32_t first = m->size - m->rindex;
    if (first > n) first = n;
    if (buffer) {
        memcpy(buffer, m->buffer + m->rindex, first);
        memcpy(static_cast<uint8_t *>(buffer) + first, m->buffer, n - first);
    }
    uint32_t r = m->rindex + n;
    m->rindex = r >= m->size ? r - m->size : r;
    return n;
}

uint32_t get_wbuf(zel_stream_t *s, void **area) {
    zel_stream_mem_t *m = self(s);
    uint32_t f = free_length(s), run = m->size - m->windex;
    if (area) *area = m->buffer + m->windex;
    return run < f ? run : f;
}

uint32_t get_rbuf(zel_stream_t *s, void **area) {
    zel_stream_mem_t *m = self(s);
    uint32_t d = data_length(s), run = m->size - m->rindex;
    if (area) *area = m->buffer + m->rindex;
    return run < d ? run : d;
}

}  // namespace

extern "C" const zel_stream_op_t zel_stream_mem_op = {
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
