// Item fifo: fixed-size slots, count under protection, copies outside it.
#include "zel_item_fifo.h"

#include <string.h>

#include "zel_irq_guard.h"

namespace {

uint8_t *slot(zel_item_fifo_t *f, uint8_t index, uint32_t slot_size) {
    return reinterpret_cast<uint8_t *>(f + 1) + size_t(index) * slot_size;
}

uint8_t advance(const zel_item_fifo_t *f, uint8_t index) { return uint8_t(index + 1 >= f->capacity ? 0 : index + 1); }

}  // namespace

extern "C" {

void zel_item_fifo_init(zel_item_fifo_t *f, uint8_t capacity) {
    f->windex = 0;
    f->rindex = 0;
    f->count = 0;
    f->capacity = capacity;
}

uint8_t zel_item_fifo_count(const zel_item_fifo_t *f) {
    zel_irq_guard guard;
    return f->count;
}

bool zel_item_fifo_push(zel_item_fifo_t *f, uint32_t slot_size, const void *item) {
    if (zel_item_fifo_count(f) >= f->capacity) return false;
    if (item) memcpy(slot(f, f->windex, slot_size), item, slot_size);
    f->windex = advance(f, f->windex);
    zel_irq_guard guard;
    f->count++;
    return true;
}

bool zel_item_fifo_pop(zel_item_fifo_t *f, uint32_t slot_size, void *out) {
    if (zel_item_fifo_count(f) == 0) return false;
    if (out) memcpy(out, slot(f, f->rindex, slot_size), slot_size);
    f->rindex = advance(f, f->rindex);
    zel_irq_guard guard;
    f->count--;
    return true;
}

void *zel_item_fifo_peek_write(zel_item_fifo_t *f, uint32_t slot_size) {
    return zel_item_fifo_count(f) < f->capacity ? slot(f, f->windex, slot_size) : nullptr;
}

void *zel_item_fifo_peek_read(zel_item_fifo_t *f, uint32_t slot_size) {
    return zel_item_fifo_count(f) > 0 ? slot(f, f->rindex, slot_size) : nullptr;
}

}  // extern "C"
