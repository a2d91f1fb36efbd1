/* Item fifo: a 4-byte header followed by `capacity` slots of one fixed slot
 * size, which every call is given. The count changes under the kernel's
 * protection, the slots are copied outside it, so one writer and one reader
 * may run in different contexts. */
#ifndef ZEL_ITEM_FIFO_H
#define ZEL_ITEM_FIFO_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zel_item_fifo {
    uint8_t windex;
    uint8_t rindex;
    uint8_t count;
    uint8_t capacity;
    /* the slots follow */
} zel_item_fifo_t;

/* Bytes of storage for a fifo of `capacity` slots of `slot_size` bytes. */
#define ZEL_ITEM_FIFO_BYTES(capacity, slot_size) (sizeof(zel_item_fifo_t) + (size_t)(capacity) * (slot_size))

void zel_item_fifo_init(zel_item_fifo_t *fifo, uint8_t capacity);
/* Copy `item` into the slot at the write index (null: the slot was filled in
 * place through zel_item_fifo_peek_write) and commit it; false when full. */
bool zel_item_fifo_push(zel_item_fifo_t *fifo, uint32_t slot_size, const void *item);
/* Copy the oldest slot to `out` (null: drop it) and release it; false when empty. */
bool zel_item_fifo_pop(zel_item_fifo_t *fifo, uint32_t slot_size, void *out);
/* The slot at the write index (null when full) / at the read index (null when
 * empty), without moving anything. */
void *zel_item_fifo_peek_write(zel_item_fifo_t *fifo, uint32_t slot_size);
void *zel_item_fifo_peek_read(zel_item_fifo_t *fifo, uint32_t slot_size);
uint8_t zel_item_fifo_count(const zel_item_fifo_t *fifo);

#ifdef __cplusplus
}
#endif

#endif
