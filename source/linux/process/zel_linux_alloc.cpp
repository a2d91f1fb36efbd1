// Per-process memory: blocks from the framework heap, recorded in the
// owning process's tracker.
#include "zel_linux_alloc.h"

#include <string.h>

#include "zel_heap.h"
#include "zel_linux_process.h"
#include "zel_trace.h"

namespace {

static_assert(ZEL_LINUX_ALLOC_HEAD >= sizeof(uint32_t), "the head holds the slot index");
static_assert(ZEL_LINUX_TRACKER_SLOTS % 32 == 0, "whole bitmap words");

zel_linux_process_t *owner(zel_linux_process_t *process) { return process ? process : zel_linux_get_cur_process(); }

// The lowest free slot at or above the hint, or -1 when the tracker is full.
int take_slot(zel_linux_tracker_t *t) {
    for (uint32_t w = t->hint / 32; w < ZEL_LINUX_TRACKER_SLOTS / 32; ++w) {
        if (t->used[w] == 0xFFFFFFFFu) continue;
        int bit = __builtin_ctz(~t->used[w]);
        uint32_t slot = w * 32 + static_cast<uint32_t>(bit);
        t->used[w] |= 1u << bit;
        t->hint = slot + 1;
        return static_cast<int>(slot);
    }
    t->hint = ZEL_LINUX_TRACKER_SLOTS;
    return -1;
}

char *head_of(void *block) { return static_cast<char *>(block) - ZEL_LINUX_ALLOC_HEAD; }

// The slot of a live block of this tracker, or -1.
int slot_of(const zel_linux_tracker_t *t, void *block) {
    uint32_t slot;
    memcpy(&slot, head_of(block), sizeof slot);
    if (slot >= ZEL_LINUX_TRACKER_SLOTS || !zel_bitmap_test(t->used, static_cast<int>(slot)) ||
        t->slots[slot].block != block)
        return -1;
    return static_cast<int>(slot);
}

void drop_slot(zel_linux_tracker_t *t, uint32_t slot) {
    t->total -= t->slots[slot].size;
    t->count--;
    t->slots[slot].block = nullptr;
    t->slots[slot].size = 0;
    zel_bitmap_clear(t->used, static_cast<int>(slot));
    if (slot < t->hint) t->hint = slot;
}

}  // namespace

extern "C" {

void *zel_linux_malloc_p(zel_linux_process_t *process, size_t size) {
    zel_linux_tracker_t *t = &owner(process)->tracker;
    if (size > SIZE_MAX - ZEL_LINUX_ALLOC_HEAD) {
        zel_linux_set_errno(ZEL_LINUX_ENOMEM);
        return nullptr;
    }
    char *raw = static_cast<char *>(zel_heap_malloc(size + ZEL_LINUX_ALLOC_HEAD));
    if (!raw) {
        zel_linux_set_errno(ZEL_LINUX_ENOMEM);
        return nullptr;
    }
    int slot = take_slot(t);
    if (slot < 0) {
        // A full tracker cannot record the block: give it back.
        zel_heap_free(raw);
        zel_trace(1, "linux: fail to allocate %d bytes, %d blocks in use\r\n", static_cast<int>(size),
            static_cast<int>(t->count));
        zel_linux_set_errno(ZEL_LINUX_ENOMEM);
        return nullptr;
    }
    uint32_t index = static_cast<uint32_t>(slot);
    memcpy(raw, &index, sizeof index);
    void *block = raw + ZEL_LINUX_ALLOC_HEAD;
    t->slots[index].block = block;
    t->slots[index].size = size;
    t->total += size;
    t->count++;
    return block;
}

void *zel_linux_calloc_p(zel_linux_process_t *process, size_t count, size_t size) {
    if (size && count > SIZE_MAX / size) {
        zel_linux_set_errno(ZEL_LINUX_ENOMEM);
        return nullptr;
    }
    void *block = zel_linux_malloc_p(process, count * size);
    if (block) memset(block, 0, count * size);
    return block;
}

void zel_linux_free_p(zel_linux_process_t *process, void *block) {
    if (!block) return;
    zel_linux_tracker_t *t = &owner(process)->tracker;
    int slot = slot_of(t, block);
    if (slot < 0) {
        zel_trace(1, "linux: free of a block that is not the process's: %p\r\n", block);
        return;
    }
    drop_slot(t, static_cast<uint32_t>(slot));
    zel_heap_free(head_of(block));
}

void *zel_linux_realloc_p(zel_linux_process_t *process, void *block, size_t size) {
    zel_linux_process_t *p = owner(process);
    if (!block) return size ? zel_linux_malloc_p(p, size) : nullptr;
    if (size == 0) {
        zel_linux_free_p(p, block);
        return nullptr;
    }
    int slot = slot_of(&p->tracker, block);
    if (slot < 0) {
        zel_trace(1, "linux: realloc of a block that is not the process's: %p\r\n", block);
        return nullptr;
    }
    size_t old = p->tracker.slots[slot].size;
    void *grown = zel_linux_malloc_p(p, size);
    if (!grown) return nullptr;
    memcpy(grown, block, old < size ? old : size);
    zel_linux_free_p(p, block);
    return grown;
}

char *zel_linux_strdup_p(zel_linux_process_t *process, const char *text) {
    if (!text) return nullptr;
    size_t n = strlen(text) + 1;
    char *copy = static_cast<char *>(zel_linux_malloc_p(process, n));
    if (copy) memcpy(copy, text, n);
    return copy;
}

void zel_linux_tracker_release(zel_linux_tracker_t *t) {
    for (uint32_t w = 0; w < ZEL_LINUX_TRACKER_SLOTS / 32 && t->count; ++w) {
        while (t->used[w]) {
            uint32_t slot = w * 32 + static_cast<uint32_t>(__builtin_ctz(t->used[w]));
            void *block = t->slots[slot].block;
            drop_slot(t, slot);
            zel_heap_free(head_of(block));
        }
    }
    t->hint = 0;
}

void *zel_linux_malloc(size_t size) { return zel_linux_malloc_p(nullptr, size); }
void *zel_linux_calloc(size_t count, size_t size) { return zel_linux_calloc_p(nullptr, count, size); }
void *zel_linux_realloc(void *block, size_t size) { return zel_linux_realloc_p(nullptr, block, size); }
void zel_linux_free(void *block) { zel_linux_free_p(nullptr, block); }
char *zel_linux_strdup(const char *text) { return zel_linux_strdup_p(nullptr, text); }

}  // extern "C"
