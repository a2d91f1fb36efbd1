/* Heap front end and fixed-item pools. */
#ifndef ZEL_HEAP_H
#define ZEL_HEAP_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Protection pair: enter() -> state; leave(state). */
typedef struct zel_protect_op {
    uint32_t (*enter)(void);
    void (*leave)(uint32_t state);
} zel_protect_op_t;
extern const zel_protect_op_t zel_protect_irq;  /* interrupt flag (the default) */
extern const zel_protect_op_t zel_protect_none; /* nothing */

/* Heap: blocks from the host heap, 16-byte aligned. Failures are traced at
 * level 1 and answered with null. */
void *zel_heap_malloc_aligned(size_t size, size_t alignment);
void *zel_heap_malloc(size_t size);
void *zel_heap_alloc_or_free(void *ptr, size_t size, size_t alignment);
void *zel_heap_realloc(void *ptr, size_t size);
void zel_heap_free(void *ptr);
void *zel_heap_calloc(size_t n, size_t size); /* null when n x size overflows */
size_t zel_heap_size(void *ptr);

typedef struct zel_heap_op {
    void *(*malloc_aligned)(size_t size, size_t alignment);
    void *(*malloc)(size_t size);
    void *(*alloc_or_free)(void *ptr, size_t size, size_t alignment);
    void *(*realloc)(void *ptr, size_t size);
    void (*free)(void *ptr);
} zel_heap_op_t;
extern const zel_heap_op_t zel_heap_op;

typedef void (*zel_pool_item_init_t)(uintptr_t tag, void *item, uint32_t item_size);

typedef struct zel_pool_cfg {
    const char *name;
    uintptr_t unused;                /* not read by the pool */
    const zel_protect_op_t *protect; /* null: zel_protect_irq */
    zel_pool_item_init_t item_init;  /* may be null */
} zel_pool_cfg_t;

#define ZEL_POOL_FIXED 0x8000u /* alignment word: never grow from the heap */

typedef struct zel_pool {
    void *free_head; /* free items chained through their first word */
    uint16_t free_count;
    uint16_t used_count;
    struct zel_pool *next; /* global pool list */
    const char *name;
    uint32_t item_size;
    uint16_t alignment; /* bits 0-14 alignment, bit 15 ZEL_POOL_FIXED */
    zel_pool_item_init_t item_init;
    const zel_protect_op_t *protect;
    uintptr_t tag;
} zel_pool_t;

void zel_pool_init(zel_pool_t *pool, uint32_t item_size, uint32_t alignment, const zel_pool_cfg_t *cfg);
/* Items must hold at least a pointer (8 bytes). */
bool zel_pool_add_buffer(zel_pool_t *pool, void *buffer, uint32_t buffer_size, uint32_t item_size);
bool zel_pool_add_buffer_ex(
    zel_pool_t *pool, void *buffer, uint32_t buffer_size, uint32_t item_size, zel_pool_item_init_t item_init);
void *zel_pool_alloc(zel_pool_t *pool);
void zel_pool_free(zel_pool_t *pool, void *item);
uint16_t zel_pool_get_free_count(zel_pool_t *pool);
const zel_protect_op_t *zel_pool_get_protect(zel_pool_t *pool);
uintptr_t zel_pool_get_tag(zel_pool_t *pool);
void zel_pool_set_tag(zel_pool_t *pool, uintptr_t tag);
zel_pool_t *zel_pool_list_head(void);
uint16_t zel_pool_list_count(void);

/* Typed accessors of the two kernel pools (nothing in the system calls them). */
struct zel_eda_frame;
struct zel_evt_node;
void zel_eda_frame_pool_init_aligned(zel_pool_t *pool, uint32_t alignment, const zel_pool_cfg_t *cfg);
bool zel_eda_frame_pool_add_buffer_ex(zel_pool_t *pool, void *buffer, uint32_t size, zel_pool_item_init_t cb);
uint16_t zel_eda_frame_pool_get_free_count(zel_pool_t *pool);
const zel_protect_op_t *zel_eda_frame_pool_get_protect(zel_pool_t *pool);
uintptr_t zel_eda_frame_pool_get_tag(zel_pool_t *pool);
void zel_eda_frame_pool_set_tag(zel_pool_t *pool, uintptr_t tag);
void zel_evt_node_pool_init_aligned(zel_pool_t *pool, uint32_t alignment, const zel_pool_cfg_t *cfg);
bool zel_evt_node_pool_add_buffer_ex(zel_pool_t *pool, void *buffer, uint32_t size, zel_pool_item_init_t cb);
uint16_t zel_evt_node_pool_get_free_count(zel_pool_t *pool);
const zel_protect_op_t *zel_evt_node_pool_get_protect(zel_pool_t *pool);
uintptr_t zel_evt_node_pool_get_tag(zel_pool_t *pool);
void zel_evt_node_pool_set_tag(zel_pool_t *pool, uintptr_t tag);

#ifdef __cplusplus
}
#endif

#endif
