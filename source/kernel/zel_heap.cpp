// Heap front end and fixed-item pools.
#include "zel_heap.h"

#include <string.h>

#include "zel_eda.h"
#include "zel_host.h"
#include "zel_trace.h"

namespace {

uint32_t protect_irq_enter() { return zel_host_irq_disable(); }
void protect_irq_leave(uint32_t state) { zel_host_irq_restore(state != 0); }
uint32_t protect_none_enter() { return 0; }
void protect_none_leave(uint32_t) {}

zel_pool_t *g_pool_head = nullptr;
uint16_t g_pool_count = 0;

// The out-of-memory hook: never try again in this system.
bool oom_retry(zel_pool_t *) { return false; }

// The free list is chained through each item's first word; items split from a
// caller's buffer need not be pointer-aligned, so the link is copied bytewise.
void *link_of(const void *item) {
    void *next;
    memcpy(&next, item, sizeof next);
    return next;
}
void set_link(void *item, void *next) { memcpy(item, &next, sizeof next); }

void trace_alloc_failure(size_t size, size_t alignment) {
    zel_trace(
        1, "fail to allocate %d bytes with %d alignment\r\n", static_cast<int>(size), static_cast<int>(alignment));
}

}  // namespace

extern "C" {

const zel_protect_op_t zel_protect_irq = {
    .enter = protect_irq_enter,
    .leave = protect_irq_leave,
};
const zel_protect_op_t zel_protect_none = {
    .enter = protect_none_enter,
    .leave = protect_none_leave,
};

void *zel_heap_malloc_aligned(size_t size, size_t alignment) {
    if (zel_host_heap_alignment() >= alignment) {
        if (void *p = zel_host_heap_malloc(size)) return p;
    }
    trace_alloc_failure(size, alignment);
    return nullptr;
}

void *zel_heap_malloc(size_t size) {
    void *p = zel_host_heap_malloc(size);
    if (!p) trace_alloc_failure(size, 0);
    return p;
}

void *zel_heap_realloc(void *ptr, size_t size) {
    if (ptr) {
        if (size == 0) {
            zel_host_heap_free(ptr);
            return nullptr;
        }
        void *p = zel_host_heap_realloc(ptr, size);
        if (!p) zel_trace(1, "fail to reallocate %d bytes with %d alignment\r\n", static_cast<int>(size), 0);
        return p;
    }
    if (size == 0) return nullptr;
    return zel_heap_malloc(size);
}

void zel_heap_free(void *ptr) {
    if (ptr) zel_host_heap_free(ptr);
}

void *zel_heap_calloc(size_t n, size_t size) {
    size_t total;
    if (__builtin_mul_overflow(n, size, &total)) {
        trace_alloc_failure(SIZE_MAX, 0);
        return nullptr;
    }
    void *p = zel_host_heap_malloc(total);
    if (!p) {
        trace_alloc_failure(total, 0);
        return nullptr;
    }
    memset(p, 0, total);
    return p;
}

size_t zel_heap_size(void *ptr) { return zel_host_heap_size(ptr); }

void *zel_heap_alloc_or_free(void *ptr, size_t size, size_t alignment) {
    if (!ptr) return size ? zel_heap_malloc_aligned(size, alignment) : nullptr;
    zel_heap_free(ptr);
    return nullptr;
}

const zel_heap_op_t zel_heap_op = {
    .malloc_aligned = zel_heap_malloc_aligned,
    .malloc = zel_heap_malloc,
    .alloc_or_free = zel_heap_alloc_or_free,
    .realloc = zel_heap_realloc,
    .free = zel_heap_free,
};

void zel_pool_init(zel_pool_t *pool, uint32_t item_size, uint32_t alignment, const zel_pool_cfg_t *cfg) {
    // A record initialised again must not be linked twice into the pool list.
    for (zel_pool_t **link = &g_pool_head; *link; link = &(*link)->next) {
        if (*link == pool) {
            *link = pool->next;
            g_pool_count--;
            break;
        }
    }
    memset(pool, 0, sizeof *pool);
    pool->protect = cfg->protect ? cfg->protect : &zel_protect_irq;
    pool->item_size = item_size;
    pool->alignment = alignment ? static_cast<uint16_t>(alignment & 0x7FFF) : 1;
    pool->item_init = cfg->item_init;
    pool->name = cfg->name;
    g_pool_count++;
    zel_pool_t **link = &g_pool_head;
    while (*link) {
        zel_pool_t *p = *link;
        if ((p->alignment & 0x7FFF) <= (pool->alignment & 0x7FFF) && p->item_size <= pool->item_size) break;
        link = &p->next;
    }
    pool->next = *link;
    *link = pool;
}

bool zel_pool_add_buffer_ex(
    zel_pool_t *pool, void *buffer, uint32_t buffer_size, uint32_t item_size, zel_pool_item_init_t item_init) {
    if (item_size < sizeof(void *) || buffer_size < item_size) return false;
    pool->alignment |= ZEL_POOL_FIXED;
    char *p = static_cast<char *>(buffer);
    for (uint32_t left = buffer_size; left >= item_size; left -= item_size, p += item_size) {
        // Initialise the item before it joins the free list, whose link it
        // would otherwise be free to overwrite.
        if (item_init) item_init(pool->tag, p, item_size);
        uint32_t st = pool->protect->enter();
        set_link(p, pool->free_head);
        pool->free_head = p;
        pool->free_count++;
        pool->protect->leave(st);
    }
    return true;
}

bool zel_pool_add_buffer(zel_pool_t *pool, void *buffer, uint32_t buffer_size, uint32_t item_size) {
    return zel_pool_add_buffer_ex(pool, buffer, buffer_size, item_size, nullptr);
}

void *zel_pool_alloc(zel_pool_t *pool) {
    uint32_t st = pool->protect->enter();
    void *item = pool->free_head;
    if (item) {
        pool->free_head = link_of(item);
        set_link(item, nullptr);
        pool->free_count--;
        pool->used_count++;
        pool->protect->leave(st);
        return item;
    }
    if (pool->alignment & ZEL_POOL_FIXED) {
        pool->protect->leave(st);
        return nullptr;
    }
    do {
        item = zel_heap_malloc_aligned(pool->item_size, pool->alignment & 0x7FFF);
    } while (!item && oom_retry(pool));
    if (item) {
        if (pool->item_init) pool->item_init(pool->tag, item, pool->item_size);
        pool->used_count++;
    }
    pool->protect->leave(st);
    return item;
}

void zel_pool_free(zel_pool_t *pool, void *item) {
    uint32_t st = pool->protect->enter();
    set_link(item, pool->free_head);
    pool->free_head = item;
    pool->free_count++;
    pool->used_count--;
    pool->protect->leave(st);
}

uint16_t zel_pool_get_free_count(zel_pool_t *pool) { return pool->free_count; }
const zel_protect_op_t *zel_pool_get_protect(zel_pool_t *pool) { return pool->protect; }
uintptr_t zel_pool_get_tag(zel_pool_t *pool) { return pool->tag; }
void zel_pool_set_tag(zel_pool_t *pool, uintptr_t tag) { pool->tag = tag; }
zel_pool_t *zel_pool_list_head(void) { return g_pool_head; }
uint16_t zel_pool_list_count(void) { return g_pool_count; }

static uint32_t typed_alignment(uint32_t alignment) { return alignment < 8 ? 8 : alignment; }

void zel_eda_frame_pool_init_aligned(zel_pool_t *pool, uint32_t alignment, const zel_pool_cfg_t *cfg) {
    zel_pool_init(pool, sizeof(zel_eda_frame_t), typed_alignment(alignment), cfg);
}
bool zel_eda_frame_pool_add_buffer_ex(zel_pool_t *pool, void *buffer, uint32_t size, zel_pool_item_init_t cb) {
    return zel_pool_add_buffer_ex(pool, buffer, size, sizeof(zel_eda_frame_t), cb);
}
uint16_t zel_eda_frame_pool_get_free_count(zel_pool_t *pool) { return zel_pool_get_free_count(pool); }
const zel_protect_op_t *zel_eda_frame_pool_get_protect(zel_pool_t *pool) { return zel_pool_get_protect(pool); }
uintptr_t zel_eda_frame_pool_get_tag(zel_pool_t *pool) { return zel_pool_get_tag(pool); }
void zel_eda_frame_pool_set_tag(zel_pool_t *pool, uintptr_t tag) { zel_pool_set_tag(pool, tag); }
void zel_evt_node_pool_init_aligned(zel_pool_t *pool, uint32_t alignment, const zel_pool_cfg_t *cfg) {
    zel_pool_init(pool, sizeof(zel_evt_node_t), typed_alignment(alignment), cfg);
}
bool zel_evt_node_pool_add_buffer_ex(zel_pool_t *pool, void *buffer, uint32_t size, zel_pool_item_init_t cb) {
    return zel_pool_add_buffer_ex(pool, buffer, size, sizeof(zel_evt_node_t), cb);
}
uint16_t zel_evt_node_pool_get_free_count(zel_pool_t *pool) { return zel_pool_get_free_count(pool); }
const zel_protect_op_t *zel_evt_node_pool_get_protect(zel_pool_t *pool) { return zel_pool_get_protect(pool); }
uintptr_t zel_evt_node_pool_get_tag(zel_pool_t *pool) { return zel_pool_get_tag(pool); }
void zel_evt_node_pool_set_tag(zel_pool_t *pool, uintptr_t tag) { zel_pool_set_tag(pool, tag); }

}  // extern "C"
